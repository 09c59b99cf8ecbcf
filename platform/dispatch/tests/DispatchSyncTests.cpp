#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchGroup.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/dispatch/Once.h"
#include "platform/dispatch/tests/ManualClockHelpers.h"

namespace dispatch {
namespace {

class ManualClockTest : public ::testing::Test {
 protected:
  void SetUp() override { Clock::setCurrent(clock); }
  void TearDown() override { Clock::setCurrent(nullptr); }
  std::shared_ptr<ManualClock> clock = ManualClock::create();
};

using DispatchSemaphoreTests = ManualClockTest;

TEST_F(DispatchSemaphoreTests, TimedWaitTimesOutOnlyWhenTheClockPassesTheDeadline) {
  DispatchSemaphore semaphore;
  std::atomic<int> result{-1};
  std::thread waiter([&] { result = semaphore.wait(10.0) ? 1 : 0; });
  test_support::waitForWaiters(*clock, 1);
  clock->advance(9.0);
  EXPECT_EQ(result.load(), -1);
  clock->advance(1.0);
  waiter.join();
  EXPECT_EQ(result.load(), 0);
  // The time-out consumed nothing: one signal serves one later wait.
  semaphore.signal();
  EXPECT_TRUE(semaphore.wait(0.0));
  EXPECT_FALSE(semaphore.wait(0.0));
}

TEST_F(DispatchSemaphoreTests, SignalWakesATimedWaiterBeforeItsDeadline) {
  DispatchSemaphore semaphore;
  auto waited = std::async(std::launch::async, [&] { return semaphore.wait(10.0); });
  semaphore.signal();
  EXPECT_TRUE(waited.get());
}

TEST_F(DispatchSemaphoreTests, CountsSignalsAndIgnoresANegativeStart) {
  DispatchSemaphore semaphore(-3);
  EXPECT_FALSE(semaphore.wait(0.0));
  DispatchSemaphore two(2);
  EXPECT_TRUE(two.wait(0.0));
  EXPECT_TRUE(two.wait(0.0));
  EXPECT_FALSE(two.wait(0.0));
}

using DispatchGroupTests = ManualClockTest;

TEST_F(DispatchGroupTests, NotifyRunsOnceWhenTheLastLeaveHappens) {
  auto group = DispatchGroup::create();
  auto queue = DispatchQueue::create("group");
  std::atomic<int> notified{0};
  group->enter();
  group->enter();
  group->notify(queue, [&] { ++notified; });
  EXPECT_TRUE(group->leave());
  queue->sync([] {});
  EXPECT_EQ(notified.load(), 0);
  EXPECT_TRUE(group->leave());
  queue->sync([] {});
  EXPECT_EQ(notified.load(), 1);
  // An unbalanced leave is refused and runs nothing again.
  EXPECT_FALSE(group->leave());
  // With nothing in flight, notify queues at once.
  group->notify(queue, [&] { ++notified; });
  queue->sync([] {});
  EXPECT_EQ(notified.load(), 2);
}

TEST_F(DispatchGroupTests, TimedWaitFollowsTheClock) {
  auto group = DispatchGroup::create();
  group->enter();
  std::atomic<int> result{-1};
  std::thread waiter([&] { result = group->wait(3.0) ? 1 : 0; });
  test_support::waitForWaiters(*clock, 1);
  clock->advance(3.0);
  waiter.join();
  EXPECT_EQ(result.load(), 0);

  std::thread second([&] { result = group->wait(3.0) ? 1 : 0; });
  group->leave();
  second.join();
  EXPECT_EQ(result.load(), 1);
  group->wait();
}

TEST(OnceFlagTests, RunsOnceAcrossThreadsAndAfterReset) {
  static OnceFlag flag;
  std::atomic<int> runs{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { flag.call([&] { ++runs; }); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(runs.load(), 1);
  EXPECT_TRUE(flag.done());
  flag.reset();
  flag.call([&] { ++runs; });
  EXPECT_EQ(runs.load(), 2);
}

TEST(OnceFlagTests, ACallFromInsideTheFunctionReturnsInsteadOfDeadlocking) {
  OnceFlag flag;
  int inner = 0;
  flag.call([&] { flag.call([&] { ++inner; }); });
  EXPECT_EQ(inner, 0);
  EXPECT_TRUE(flag.done());
}

}  // namespace
}  // namespace dispatch
