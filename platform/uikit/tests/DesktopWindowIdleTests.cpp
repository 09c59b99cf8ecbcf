#include <gtest/gtest.h>

#include <cstdlib>

#include <gtk/gtk.h>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/DesktopHost.h"
#include "platform/uikit/DesktopWindow.h"
#include "platform/uikit/Window.h"
#include "testing/ThreadWakeUps.h"

// The desktop window with nothing animating sleeps: over five quiet seconds the main thread wakes
// a handful of times, not once per frame or per look at the main queue.

namespace uikit {
namespace {

TEST(DesktopWindowIdleTests, IdleWindowWakesTheMainThreadAHandfulOfTimesInFiveSeconds) {
  if (!gtk_init_check(nullptr, nullptr)) {
    if (std::getenv("FENDREL_REQUIRE_DISPLAY")) FAIL() << "no display; run under xvfb-run";
    GTEST_SKIP() << "no display";
  }
  dispatch::bindMainThread();
  auto screen = UIWindow::create({0, 0, 200, 120});
  screen->setBackgroundColor(UIColor::white(0.9));
  auto opened = DesktopWindow::open(std::make_shared<WindowDesktopHost>(screen), {"Idle", {200, 120}});
  ASSERT_TRUE(opened.ok()) << opened.error().localizedDescription();
  DesktopWindow& window = **opened;
  // The first frames and the window manager's events come and go before the quiet spell.
  ASSERT_TRUE(window.runUntil([&] { return window.framesDrawn() > 0; }, 10));
  window.runUntil([] { return false; }, 0.5);

  const long before = testing_support::voluntaryContextSwitches();
  ASSERT_GE(before, 0);
  EXPECT_FALSE(window.runUntil([] { return false; }, 5.0));
  const long wakeUps = testing_support::voluntaryContextSwitches() - before;
  // Polling would wake it hundreds of times; a few rechecks and stray toolkit events stay well below this.
  EXPECT_LE(wakeUps, 25);
}

}  // namespace
}  // namespace uikit
