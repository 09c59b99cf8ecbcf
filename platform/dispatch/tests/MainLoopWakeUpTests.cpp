// The idle main run loop sleeps: over five quiet seconds its thread wakes a handful of times, not
// once per recheck or frame; a loop that waits for wake-ups sleeps until one comes, and its
// timers and the wake-ups of other threads still reach it.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"
#include "testing/ThreadWakeUps.h"

namespace dispatch {
namespace {

constexpr double kTestTimeout = 10.0;

/// Counts the main loop's sleeps through its observer, and says when the loop is asleep.
class SleepCounter {
 public:
  SleepCounter() {
    setMainLoopObserver([this](MainLoopActivity activity) {
      if (activity == MainLoopActivity::BeforeWaiting) {
        ++sleeps;
        asleep = true;
      } else {
        asleep = false;
      }
    });
  }
  ~SleepCounter() { setMainLoopObserver({}); }

  /// Waits on another thread, bounded in real time, until the loop has gone to sleep.
  bool waitUntilAsleep() const {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!asleep) {
      if (std::chrono::steady_clock::now() > limit) return false;
      std::this_thread::yield();
    }
    return true;
  }

  int sleeps = 0;  ///< main thread only
  std::atomic<bool> asleep{false};
};

TEST(MainLoopWakeUpTests, IdleLoopWakesAHandfulOfTimesInFiveSeconds) {
  bindMainThread();
  const long before = testing_support::voluntaryContextSwitches();
  ASSERT_GE(before, 0);
  EXPECT_FALSE(runMainLoopUntil([] { return false; }, 5.0));
  const long wakeUps = testing_support::voluntaryContextSwitches() - before;
  // Polling would wake it hundreds of times; a few rechecks stay well below this.
  EXPECT_LE(wakeUps, 25);
}

TEST(MainLoopWakeUpTests, LoopThatWaitsForWakeUpsSleepsThroughAnIdleSecondAtOnce) {
  bindMainThread();
  SleepCounter counter;
  int checks = 0;
  EXPECT_FALSE(runMainLoopUntil([&] { return ++checks, false; }, 1.0, Recheck::Never));
  // One sleep to the time-out; a second only if a signal cut the first short. Rechecking would
  // sleep five times (0.05, 0.1, 0.2, 0.4 s and the rest).
  EXPECT_LE(counter.sleeps, 2);
  EXPECT_LE(checks, 3);
}

TEST(MainLoopWakeUpTests, SleepingLoopWakesForWakeUpsBlocksAndTimersOfOtherThreads) {
  bindMainThread();
  SleepCounter counter;
  auto main = DispatchQueue::main();
  std::atomic<int> step{0};

  // A flag set elsewhere, followed by a wake-up, as a signal handler does.
  std::thread signaller([&] {
    if (!counter.waitUntilAsleep()) return;
    step = 1;
    wakeMainLoop();
  });
  EXPECT_TRUE(runMainLoopUntil([&] { return step == 1; }, kTestTimeout, Recheck::Never));
  signaller.join();

  // A block queued by another thread.
  std::thread queuer([&] {
    if (counter.waitUntilAsleep()) main->async([&] { step = 2; });
  });
  EXPECT_TRUE(runMainLoopUntil([&] { return step == 2; }, kTestTimeout, Recheck::Never));
  queuer.join();

  // A timer that another thread schedules while the loop sleeps with no deadline of its own.
  std::thread scheduler([&] {
    if (counter.waitUntilAsleep()) main->asyncAfter(0.05, [&] { step = 3; });
  });
  EXPECT_TRUE(runMainLoopUntil([&] { return step == 3; }, kTestTimeout, Recheck::Never));
  scheduler.join();
}

TEST(MainLoopWakeUpTests, TimersFireInDeadlineOrderAndNotEarlyWhileTheLoopSleeps) {
  bindMainThread();
  auto main = DispatchQueue::main();
  Clock& clock = Clock::current();
  const double start = clock.uptime();
  struct Fired {
    int id;
    double at;
  };
  std::vector<Fired> fired;
  main->asyncAfter(0.2, [&] { fired.push_back({2, clock.uptime()}); });
  main->asyncAfter(0.1, [&] { fired.push_back({1, clock.uptime()}); });
  main->async([&] { fired.push_back({0, clock.uptime()}); });
  ASSERT_TRUE(runMainLoopUntil([&] { return fired.size() == 3; }, kTestTimeout, Recheck::Never));
  const double deadlines[] = {0.0, 0.1, 0.2};
  for (std::size_t i = 0; i < fired.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(fired[i].id, static_cast<int>(i));
    EXPECT_GE(fired[i].at - start, deadlines[i]);
  }
}

}  // namespace
}  // namespace dispatch
