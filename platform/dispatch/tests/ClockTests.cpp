#include "platform/dispatch/Clock.h"

#include <gtest/gtest.h>

#include "platform/dispatch/tests/ManualClockHelpers.h"

#include <atomic>
#include <cmath>
#include <thread>

namespace dispatch {
namespace {

TEST(ClockTests, DeadlineAfterTreatsOddDelaysSoundly) {
  auto clock = ManualClock::create(100.0);
  struct Case {
    const char* name;
    double delay;
    double expected;
  };
  const Case cases[] = {
      {"plain", 2.5, 102.5},
      {"zero", 0.0, 100.0},
      {"negative", -5.0, 100.0},
      {"nan", std::nan(""), 100.0},
      {"infinite", kForever, kForever},
      {"huge", 1e300, 100.0 + 1e300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(clock->deadlineAfter(c.delay), c.expected);
  }
}

TEST(ClockTests, ManualClockMovesOnlyForward) {
  ManualClock clock(10.0, 5000.0);
  clock.advance(1.5);
  EXPECT_EQ(clock.uptime(), 11.5);
  EXPECT_EQ(clock.wallTime(), 5001.5);
  clock.advance(-3.0);
  clock.advance(std::nan(""));
  clock.advance(kForever);
  EXPECT_EQ(clock.uptime(), 11.5);
  clock.setWallTime(42.0);
  EXPECT_EQ(clock.wallTime(), 42.0);
  EXPECT_EQ(clock.uptime(), 11.5);
}

TEST(ClockTests, SetCurrentSwapsAndRestoresTheProcessClock) {
  auto manual = ManualClock::create(0.0, 1234.0);
  Clock::setCurrent(manual);
  EXPECT_EQ(&Clock::current(), manual.get());
  EXPECT_EQ(Clock::current().wallTime(), 1234.0);
  Clock::setCurrent(nullptr);
  EXPECT_NE(&Clock::current(), manual.get());
  const double a = Clock::current().uptime();
  EXPECT_GE(Clock::current().uptime(), a);
  EXPECT_GT(Clock::current().wallTime(), 1.6e9);
}

TEST(ClockTests, ManualWaitEndsOnlyWhenTheClockReachesTheDeadline) {
  auto clock = ManualClock::create();
  std::mutex mutex;
  std::condition_variable cv;
  std::atomic<int> result{-1};
  std::thread waiter([&] {
    std::unique_lock lock(mutex);
    result = clock->waitUntil(cv, lock, 5.0, [] { return false; }) ? 1 : 0;
  });
  test_support::waitForWaiters(*clock, 1);
  clock->advance(4.5);
  EXPECT_EQ(result.load(), -1);
  clock->advance(0.5);
  waiter.join();
  EXPECT_EQ(result.load(), 0);
}

TEST(ClockTests, RealWaitReturnsReadyOrTimesOut) {
  RealClock clock;
  std::mutex mutex;
  std::condition_variable cv;
  std::unique_lock lock(mutex);
  EXPECT_FALSE(clock.waitUntil(cv, lock, clock.uptime() + 0.001, [] { return false; }));
  EXPECT_TRUE(clock.waitUntil(cv, lock, clock.uptime() + 1000.0, [] { return true; }));
}

}  // namespace
}  // namespace dispatch
