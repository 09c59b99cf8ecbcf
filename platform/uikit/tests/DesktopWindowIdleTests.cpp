#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include <gtk/gtk.h>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/DesktopHost.h"
#include "platform/uikit/DesktopWindow.h"
#include "platform/uikit/Window.h"
#include "testing/ThreadWakeUps.h"

// The desktop window with nothing animating sleeps: over five quiet seconds the main thread wakes
// a handful of times, not once per frame or per look at the main queue.

namespace uikit {
namespace {

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

TEST(DesktopWindowIdleTests, IdleWindowWakesTheMainThreadAHandfulOfTimesInFiveSeconds) {
  if (!gtk_init_check(nullptr, nullptr)) {
    if (std::getenv("FENDREL_REQUIRE_DISPLAY")) FAIL() << "no display; run under xvfb-run";
    GTEST_SKIP() << "no display";
  }
  dispatch::bindMainThread();
  auto window = openSettledWindow();
  ASSERT_TRUE(window);

  const long before = testing_support::voluntaryContextSwitches();
  ASSERT_GE(before, 0);
  EXPECT_FALSE(window->runUntil([] { return false; }, 5.0));
  const long wakeUps = testing_support::voluntaryContextSwitches() - before;
  // Polling would wake it hundreds of times; a few rechecks and stray toolkit events stay well below this.
  EXPECT_LE(wakeUps, 25);
}

TEST(DesktopWindowIdleTests, WindowThatWaitsForWakeUpsSleepsUntilABlockComes) {
  if (!gtk_init_check(nullptr, nullptr)) {
    if (std::getenv("FENDREL_REQUIRE_DISPLAY")) FAIL() << "no display; run under xvfb-run";
    GTEST_SKIP() << "no display";
  }
  dispatch::bindMainThread();
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

}  // namespace
}  // namespace uikit
