#include "platform/dispatch/DispatchQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/dispatch/MainRunLoop.h"

namespace dispatch {
namespace {

// Generous real-time bound for waits that only fail when the code under test is broken.
constexpr double kTestTimeout = 10.0;

class DispatchQueueTests : public ::testing::Test {
 protected:
  void TearDown() override {
    Clock::setCurrent(nullptr);
    drainMainQueue();
  }
  std::shared_ptr<ManualClock> useManualClock() {
    auto clock = ManualClock::create();
    Clock::setCurrent(clock);
    return clock;
  }
};

TEST_F(DispatchQueueTests, SerialQueueRunsOneBlockAtATimeInOrder) {
  auto queue = DispatchQueue::create("serial");
  std::vector<int> order;
  std::atomic<int> active{0};
  std::atomic<bool> overlapped{false};
  std::atomic<bool> notCurrent{false};
  for (int i = 0; i < 500; ++i) {
    queue->async([&, i, q = queue.get()] {
      if (++active > 1) overlapped = true;
      if (!q->isCurrent()) notCurrent = true;
      order.push_back(i);
      --active;
    });
  }
  queue->sync([] {});
  ASSERT_EQ(order.size(), 500u);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(order[i], i);
  EXPECT_FALSE(overlapped);
  EXPECT_FALSE(notCurrent);
  EXPECT_FALSE(queue->isCurrent());
  EXPECT_EQ(queue->label(), "serial");
}

TEST_F(DispatchQueueTests, SyncFromTheQueueItselfRunsInline) {
  auto queue = DispatchQueue::create("reentrant");
  int ran = 0;
  queue->sync([&] { queue->sync([&] { ++ran; }); });
  EXPECT_EQ(ran, 1);
}

TEST_F(DispatchQueueTests, GlobalQueueGrowsSoBlocksWaitingOnEachOtherFinish) {
  DispatchSemaphore first, second, done;
  auto global = DispatchQueue::global();
  global->async([&] {
    second.signal();
    first.wait();
    done.signal();
  });
  global->async([&] {
    second.wait();
    first.signal();
    done.signal();
  });
  EXPECT_TRUE(done.wait(kTestTimeout));
  EXPECT_TRUE(done.wait(kTestTimeout));
}

TEST_F(DispatchQueueTests, LastOwnerReleasedInsideItsOwnBlockDoesNotDeadlock) {
  auto queue = DispatchQueue::create("self-owned");
  DispatchSemaphore gate, done;
  queue->async([&gate, owner = queue]() mutable {
    gate.wait();
    owner.reset();  // the last reference goes away on the queue's own thread
  });
  std::atomic<bool> laterRan{false};
  queue->async([&] {
    laterRan = true;
    done.signal();
  });
  queue.reset();
  gate.signal();
  EXPECT_TRUE(done.wait(kTestTimeout));
  EXPECT_TRUE(laterRan);
}

TEST_F(DispatchQueueTests, AsyncAfterFiresOnlyOnceTheManualClockPassesTheDelay) {
  auto clock = useManualClock();
  auto queue = DispatchQueue::create("timers");
  std::vector<std::string> fired;
  queue->asyncAfter(2.0, [&] { fired.push_back("two"); });
  queue->asyncAfter(1.0, [&] { fired.push_back("one"); });
  queue->asyncAfter(1.0, [&] { fired.push_back("one-later"); });
  queue->asyncAfter(kForever, [&] { fired.push_back("never"); });
  clock->advance(0.999);
  queue->sync([] {});
  EXPECT_TRUE(fired.empty());
  clock->advance(0.001);
  queue->sync([] {});
  EXPECT_EQ(fired, (std::vector<std::string>{"one", "one-later"}));
  clock->advance(1e6);
  queue->sync([] {});
  EXPECT_EQ(fired, (std::vector<std::string>{"one", "one-later", "two"}));
}

TEST_F(DispatchQueueTests, AsyncAfterKeepsTheQueueAliveUntilItFires) {
  auto clock = useManualClock();
  DispatchSemaphore done;
  DispatchQueue::create("released")->asyncAfter(5.0, [&] { done.signal(); });
  clock->advance(5.0);
  EXPECT_TRUE(done.wait(kTestTimeout));
}

TEST_F(DispatchQueueTests, MainQueueRunsOnlyWhenTheMainThreadPumps) {
  ASSERT_TRUE(isMainThread());
  auto main = DispatchQueue::main();
  EXPECT_TRUE(main->isCurrent());
  std::atomic<bool> ran{false};
  std::atomic<bool> onMain{false};
  std::thread([&] {
    EXPECT_FALSE(isMainThread());
    EXPECT_FALSE(main->isCurrent());
    main->async([&] {
      onMain = isMainThread() && DispatchQueue::main()->isCurrent();
      ran = true;
    });
  }).join();
  EXPECT_FALSE(ran);
  EXPECT_TRUE(runMainLoopUntil([&] { return ran.load(); }, kTestTimeout));
  EXPECT_TRUE(onMain);
}

TEST_F(DispatchQueueTests, MainSyncIsInlineOnMainAndWaitsForThePumpElsewhere) {
  auto main = DispatchQueue::main();
  int inlineRuns = 0;
  main->sync([&] { ++inlineRuns; });
  EXPECT_EQ(inlineRuns, 1);

  std::atomic<bool> workerDone{false};
  std::atomic<bool> ranOnMain{false};
  std::thread worker([&] {
    main->sync([&] { ranOnMain = isMainThread(); });
    workerDone = true;
  });
  EXPECT_TRUE(runMainLoopUntil([&] { return workerDone.load(); }, kTestTimeout));
  worker.join();
  EXPECT_TRUE(ranOnMain);
}

TEST_F(DispatchQueueTests, MainTimersWaitForTheManualClockAndThePump) {
  auto clock = useManualClock();
  std::vector<int> order;
  auto main = DispatchQueue::main();
  main->asyncAfter(3.0, [&] { order.push_back(3); });
  main->async([&] { order.push_back(0); });
  EXPECT_EQ(drainMainQueue(), 1u);
  clock->advance(2.0);
  EXPECT_EQ(drainMainQueue(), 0u);
  clock->advance(1.0);
  // A block queued by a block runs in the same drain.
  main->async([&] { main->async([&] { order.push_back(4); }); });
  EXPECT_EQ(drainMainQueue(), 3u);
  EXPECT_EQ(order, (std::vector<int>{0, 3, 4}));
}

TEST_F(DispatchQueueTests, RunLoopTimeOutIsRealTimeEvenWhenTheClockStandsStill) {
  useManualClock();
  DispatchQueue::main()->asyncAfter(1.0, [] { FAIL() << "the clock never moved"; });
  EXPECT_FALSE(runMainLoopUntil([] { return false; }, 0.02));
}

TEST_F(DispatchQueueTests, IdleRunLoopSleepsInsteadOfPolling) {
  // With nothing to do for a third of a second the loop looks at its condition a few times
  // (wake-ups and the recheck interval), not once per millisecond.
  int checks = 0;
  EXPECT_FALSE(runMainLoopUntil([&] { return ++checks, false; }, 0.3));
  EXPECT_LT(checks, 30);
}

TEST_F(DispatchQueueTests, RunLoopWakesForBlocksTimersAndTheManualClock) {
  auto main = DispatchQueue::main();
  std::atomic<int> step{0};
  // A real-clock timer: the loop sleeps until its deadline.
  main->asyncAfter(0.05, [&] { step = 1; });
  EXPECT_TRUE(runMainLoopUntil([&] { return step == 1; }, kTestTimeout));

  // A block queued from another thread.
  std::thread([&] { main->async([&] { step = 2; }); }).join();
  EXPECT_TRUE(runMainLoopUntil([&] { return step == 2; }, kTestTimeout));

  // A manual-clock timer, due when another thread advances the clock during the wait.
  auto clock = useManualClock();
  main->asyncAfter(5.0, [&] { step = 3; });
  std::thread advancer([&] { clock->advance(5.0); });
  EXPECT_TRUE(runMainLoopUntil([&] { return step == 3; }, kTestTimeout));
  advancer.join();

  // A condition that only the clock changes is looked at again when the clock moves.
  std::thread([&] { clock->advance(1.0); }).join();
  EXPECT_TRUE(runMainLoopUntil([&] { return clock->uptime() >= 6.0; }, kTestTimeout));
}

TEST_F(DispatchQueueTests, PumpingOffTheMainThreadRunsNothing) {
  std::atomic<bool> ran{false};
  DispatchQueue::main()->async([&] { ran = true; });
  std::thread([&] {
    EXPECT_EQ(drainMainQueue(), 0u);
    EXPECT_FALSE(runMainLoopUntil([] { return false; }, 0.01));
  }).join();
  EXPECT_FALSE(ran);
  EXPECT_EQ(drainMainQueue(), 1u);
}

}  // namespace
}  // namespace dispatch
