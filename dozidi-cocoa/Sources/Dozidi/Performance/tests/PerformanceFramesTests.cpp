// Frame classification with a display link ticked by hand, the integration's install rule, and
// the real display link on the main run loop.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "PerformanceTestKit.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/PrivateDozidiSDKOnly.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiFramesTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiProfiler.h"
#include "platform/dispatch/MainRunLoop.h"

namespace {

using foundation::Dictionary;
using foundation::Value;
using performance_test::FakeDisplayLinkWrapper;

struct Counts {
  std::uint64_t total, slow, frozen;
  friend bool operator==(const Counts&, const Counts&) = default;
};
Counts countsOf(const DozidiScreenFrames& f) { return {f.total, f.slow, f.frozen}; }

class PerformanceFramesTests : public ::testing::Test {
 protected:
  void SetUp() override { tracker->start(); }
  void TearDown() override { DozidiProfiler::setRunning(false); }
  std::shared_ptr<FakeDisplayLinkWrapper> link = FakeDisplayLinkWrapper::create();
  std::shared_ptr<DozidiFramesTracker> tracker = DozidiFramesTracker::initWithDisplayLinkWrapper(link);
};

TEST_F(PerformanceFramesTests, FramesAreNormalSlowOrFrozenByDuration) {
  struct Case {
    const char* name;
    double duration;
    double frameInterval;  // target - timestamp; 0: equal times
    Counts expected;        // of this one frame
  };
  const Case cases[] = {
      {"16.9 ms at 60 per second is normal", 0.0169, 1.0 / 60, {1, 0, 0}},
      {"17 ms at 60 per second is slow", 0.017, 1.0 / 60, {1, 1, 0}},
      {"0.7 s is slow", 0.7, 1.0 / 60, {1, 1, 0}},
      {"0.71 s is frozen", 0.71, 1.0 / 60, {1, 0, 1}},
      {"equal times mean 60 per second", 0.017, 0, {1, 1, 0}},
      {"10 ms at 120 per second is slow", 0.010, 1.0 / 120, {1, 1, 0}},
      // Rates no display has count as 60, so the slow threshold stays meaningful.
      {"a rate of 0.5 counts as 60", 0.0169, 2.0, {1, 0, 0}},
      {"a rate of exactly 1 counts as 60", 0.017, 1.0, {1, 1, 0}},
      {"a rate of 2000 counts as 60", 0.0169, 0.0005, {1, 0, 0}},
      {"a target before the frame counts as 60", 0.0169, -0.01, {1, 0, 0}},
  };
  double now = 10.0;
  link->tick(now);
  EXPECT_EQ(countsOf(tracker->currentFrames()), (Counts{0, 0, 0})) << "the first callback counts nothing";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto before = countsOf(tracker->currentFrames());
    now += c.duration;
    link->tick(now, now + c.frameInterval);
    const auto after = countsOf(tracker->currentFrames());
    EXPECT_EQ((Counts{after.total - before.total, after.slow - before.slow, after.frozen - before.frozen}), c.expected);
  }
  EXPECT_TRUE(tracker->currentFrames().frameTimestamps.empty()) << "no profile runs: no intervals kept";
}

TEST_F(PerformanceFramesTests, WhileProfilingSlowFramesAndRateChangesAreKept) {
  DozidiProfiler::setRunning(true);
  link->tick(1.0);
  link->tick(1.0 + 1.0 / 60);
  link->tick(1.0 + 2.0 / 60);
  link->tick(1.1, 1.1 + 1.0 / 120);  // slow, and the rate switches to 120
  link->tick(1.1 + 1.0 / 120, 1.1 + 2.0 / 120);
  link->tick(1.2);                     // back to 60
  auto frames = tracker->currentFrames();
  ASSERT_EQ(frames.frameRateTimestamps.size(), 3u) << "one entry per switch, not per frame";
  EXPECT_EQ(frames.frameRateTimestamps[1]["timestamp"].asDouble(), 1.1);
  EXPECT_NEAR(*frames.frameRateTimestamps[1]["frame_rate"].asDouble(), 120.0, 1e-6);
  ASSERT_EQ(frames.frameTimestamps.size(), 2u);
  EXPECT_EQ(frames.frameTimestamps[0]["start_timestamp"].asDouble(), 1.0 + 2.0 / 60);
  EXPECT_EQ(frames.frameTimestamps[0]["end_timestamp"].asDouble(), 1.1);
  EXPECT_EQ(frames.slow, 2u);

  tracker->resetProfilingTimestamps();
  EXPECT_TRUE(tracker->currentFrames().frameTimestamps.empty());
  tracker->stop();
  EXPECT_FALSE(tracker->isRunning());
  EXPECT_FALSE(link->isLinked());
}

TEST(PerformanceFramesIntegrationTests, InstallsWithTracingOrInHybridFramesMode) {
  auto options = DozidiOptions::create();
  DozidiFramesTrackingIntegration off;
  EXPECT_FALSE(off.installWithOptions(*options));
  EXPECT_FALSE(off.tracker());

  PrivateDozidiSDKOnly::setFramesTrackingMeasurementHybridSDKMode(true);
  auto tracker = DozidiFramesTracker::sharedInstance();
  tracker->setDisplayLinkWrapper(FakeDisplayLinkWrapper::create());
  DozidiFramesTrackingIntegration hybrid;
  EXPECT_TRUE(hybrid.installWithOptions(*options));
  EXPECT_TRUE(tracker->isRunning());
  hybrid.uninstall();
  EXPECT_FALSE(tracker->isRunning());
  PrivateDozidiSDKOnly::setFramesTrackingMeasurementHybridSDKMode(false);
  tracker->setDisplayLinkWrapper(DozidiDisplayLinkWrapper::create());
}

TEST(PerformanceDisplayLinkTests, AStalledMainThreadShowsAsASlowFrame) {
  using namespace std::chrono_literals;
  auto tracker = DozidiFramesTracker::initWithDisplayLinkWrapper(DozidiDisplayLinkWrapper::create());
  tracker->start();
  auto framesReach = [&](std::uint64_t total) {
    return dispatch::runMainLoopUntil([&] { return tracker->currentFrames().total >= total; }, 10.0);
  };
  ASSERT_TRUE(framesReach(3));
  const auto before = tracker->currentFrames();
  std::this_thread::sleep_for(100ms);  // the main thread is busy: no frame can be drawn
  ASSERT_TRUE(framesReach(before.total + 2));
  const auto after = tracker->currentFrames();
  EXPECT_GE(after.slow + after.frozen, before.slow + before.frozen + 1);
  tracker->stop();
}

}  // namespace
