// The frame tracker inside the desktop window: the window's frame clock drives the display link
// while the tracker runs, and stops when it stops. Needs a display (xvfb-run).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiDisplayLinkWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiFramesTracker.h"
#include "platform/dispatch/DisplayFrames.h"
#include "platform/uikit/DesktopHost.h"
#include "platform/uikit/DesktopWindow.h"

namespace {

TEST(PerformanceWindowFramesTests, TheWindowsFrameClockDrivesTheFrameTracker) {
  auto opened = uikit::DesktopWindow::open(std::make_shared<uikit::ApplicationDesktopHost>(), {"Frames", {200, 120}});
  if (!opened.ok()) {
    if (std::getenv("FENDREL_REQUIRE_DISPLAY")) FAIL() << opened.error().localizedDescription();
    GTEST_SKIP() << "no display";
  }
  auto& window = **opened;
  EXPECT_TRUE(dispatch::DisplayFrames::hasSource());

  auto tracker = DozidiFramesTracker::initWithDisplayLinkWrapper(DozidiDisplayLinkWrapper::create());
  tracker->start();
  ASSERT_TRUE(window.runUntil([&] { return tracker->currentFrames().total >= 5; }, 10.0));
  const auto before = tracker->currentFrames();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the main thread is busy
  ASSERT_TRUE(window.runUntil([&] { return tracker->currentFrames().total >= before.total + 2; }, 10.0));
  const auto after = tracker->currentFrames();
  EXPECT_GE(after.slow + after.frozen, before.slow + before.frozen + 1);

  tracker->stop();
  const auto stopped = tracker->currentFrames().total;
  window.runUntil([] { return false; }, 0.2);
  EXPECT_EQ(tracker->currentFrames().total, stopped) << "no frames once the tracker stopped";
}

}  // namespace
