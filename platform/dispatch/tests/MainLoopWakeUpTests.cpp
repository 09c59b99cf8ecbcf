// The idle main run loop sleeps: over five quiet seconds its thread wakes a handful of times, not
// once per recheck or frame.

#include <gtest/gtest.h>

#include "platform/dispatch/MainRunLoop.h"
#include "testing/ThreadWakeUps.h"

namespace dispatch {
namespace {

TEST(MainLoopWakeUpTests, IdleLoopWakesAHandfulOfTimesInFiveSeconds) {
  bindMainThread();
  const long before = testing_support::voluntaryContextSwitches();
  ASSERT_GE(before, 0);
  EXPECT_FALSE(runMainLoopUntil([] { return false; }, 5.0));
  const long wakeUps = testing_support::voluntaryContextSwitches() - before;
  // Polling would wake it hundreds of times; a few rechecks stay well below this.
  EXPECT_LE(wakeUps, 25);
}

}  // namespace
}  // namespace dispatch
