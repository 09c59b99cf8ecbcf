#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>

#include <gtk/gtk.h>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/DesktopHost.h"
#include "platform/uikit/DesktopWindow.h"
#include "platform/uikit/Switch.h"
#include "platform/uikit/Window.h"
#include "testing/ThreadWakeUps.h"

// The desktop window with nothing animating sleeps: over five quiet seconds the main thread wakes
// a handful of times, not once per frame or per look at the main queue.

namespace uikit {
namespace {

/// A display is needed, and the test's thread is the main thread the window runs on.
class DesktopWindowIdleTests : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check(nullptr, nullptr)) {
      if (std::getenv("FENDREL_REQUIRE_DISPLAY")) FAIL() << "no display; run under xvfb-run";
      GTEST_SKIP() << "no display";
    }
    dispatch::bindMainThread();
  }
};

/// Opens a small window and runs it until its first frames and the window manager's events are over.
std::unique_ptr<DesktopWindow> openSettledWindow() {
  auto screen = UIWindow::create({0, 0, 200, 120});
  screen->setBackgroundColor(UIColor::white(0.9));
  auto opened = DesktopWindow::open(std::make_shared<WindowDesktopHost>(screen), {"Idle", {200, 120}});
  EXPECT_TRUE(opened.ok()) << opened.error().localizedDescription();
  if (!opened) return nullptr;
  auto window = std::move(*opened);
  EXPECT_TRUE(window->runUntil([&] { return window->framesDrawn() > 0; }, 10));
  window->runUntil([] { return false; }, 0.5);
  return window;
}

TEST_F(DesktopWindowIdleTests, IdleWindowWakesTheMainThreadAHandfulOfTimesInFiveSeconds) {
  auto window = openSettledWindow();
  ASSERT_TRUE(window);

  const long before = testing_support::voluntaryContextSwitches();
  ASSERT_GE(before, 0);
  EXPECT_FALSE(window->runUntil([] { return false; }, 5.0));
  const long wakeUps = testing_support::voluntaryContextSwitches() - before;
  // Polling would wake it hundreds of times; a few rechecks and stray toolkit events stay well below this.
  EXPECT_LE(wakeUps, 25);
}

TEST_F(DesktopWindowIdleTests, WindowThatWaitsForWakeUpsSleepsUntilABlockComes) {
  auto window = openSettledWindow();
  ASSERT_TRUE(window);

  const long before = testing_support::voluntaryContextSwitches();
  EXPECT_FALSE(window->runUntil([] { return false; }, 2.0, dispatch::Recheck::Never));
  // Rechecking would wake it about eight times; a stray toolkit event may still come.
  EXPECT_LE(testing_support::voluntaryContextSwitches() - before, 3);

  // A block from another thread still ends a wait without limit.
  std::atomic<bool> ran{false};
  std::thread([&] { dispatch::DispatchQueue::main()->async([&] { ran = true; }); }).join();
  EXPECT_TRUE(window->runUntil([&] { return ran.load(); }, dispatch::kForever, dispatch::Recheck::Never));
}

/// Queues `block` on the main queue and runs the window until it ran and half a second more, so
/// that a frame it asked for has come.
void runBlockAndSettle(DesktopWindow& window, std::function<void()> block) {
  bool ran = false;
  dispatch::DispatchQueue::main()->async([&] {
    block();
    ran = true;
  });
  EXPECT_TRUE(window.runUntil([&] { return ran; }, 10));
  window.runUntil([] { return false; }, 0.5);
}

TEST_F(DesktopWindowIdleTests, MainQueueBlocksRedrawTheWindowOnlyWhenThePictureChanged) {
  auto screen = UIWindow::create({0, 0, 200, 120});
  screen->setBackgroundColor(UIColor::white(0.9));
  // A switch's setter tells nobody that it changed: the window still has to show it.
  auto toggle = std::make_shared<UISwitch>();
  toggle->setFrame({20, 20, 51, 31});
  screen->addSubview(toggle);
  auto opened = DesktopWindow::open(std::make_shared<WindowDesktopHost>(screen), {"Redraw", {200, 120}});
  ASSERT_TRUE(opened.ok()) << opened.error().localizedDescription();
  auto& window = **opened;
  ASSERT_TRUE(window.runUntil([&] { return window.framesDrawn() > 0; }, 10));
  window.runUntil([] { return false; }, 0.5);

  // Blocks that change nothing on the screen, like a watchdog's pings, draw no frame.
  const std::size_t settled = window.framesDrawn();
  for (int i = 0; i < 3; ++i) runBlockAndSettle(window, [] {});
  EXPECT_EQ(window.framesDrawn(), settled);

  struct Case {
    const char* name;
    std::function<void()> change;
  };
  const Case cases[] = {
      {"background colour", [&] { screen->setBackgroundColor(UIColor::white(0.2)); }},
      {"switch turned on", [&] { toggle->setOn(true); }},
      {"view hidden", [&] { toggle->setHidden(true); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = window.framesDrawn();
    runBlockAndSettle(window, c.change);
    EXPECT_GT(window.framesDrawn(), before);
  }
}

}  // namespace
}  // namespace uikit
