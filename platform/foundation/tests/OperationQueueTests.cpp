#include "platform/foundation/OperationQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/dispatch/MainRunLoop.h"

namespace foundation {
namespace {

constexpr double kTestTimeout = 10.0;

/// Records every key-value notification of an operation as "key:will" / "key:did".
class ChangeLog {
 public:
  void observe(Operation& op) {
    for (const char* key : {"isExecuting", "isFinished", "isCancelled"}) {
      op.addObserver(key, [this](Operation&, const std::string& k, KeyValueChange change) {
        std::lock_guard lock(mutex_);
        entries_.push_back(k + (change == KeyValueChange::Will ? ":will" : ":did"));
      });
    }
  }
  std::vector<std::string> entries() {
    std::lock_guard lock(mutex_);
    return entries_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> entries_;
};

/// An asynchronous operation that keeps its own states and finishes when finish() is called,
/// announcing "isFinished" only once it has started.
class ManualOperation : public Operation {
 public:
  static std::shared_ptr<ManualOperation> create() {
    return std::shared_ptr<ManualOperation>(new ManualOperation());
  }
  bool isAsynchronous() const override { return true; }
  bool isExecuting() const override { return executing_; }
  bool isFinished() const override { return finished_; }
  void start() override {
    if (isCancelled()) return;
    setExecuting(true);
    started_ = true;
    main();
  }
  void main() override { mainRan = true; }
  void cancel() override {
    setExecuting(false);
    setFinished(true);
    Operation::cancel();
  }
  void finish() {
    setExecuting(false);
    setFinished(true);
  }

  std::atomic<bool> mainRan{false};

 private:
  ManualOperation() = default;
  void setExecuting(bool value) {
    if (value == executing_) return;
    willChangeValue("isExecuting");
    executing_ = value;
    didChangeValue("isExecuting");
  }
  void setFinished(bool value) {
    if (!started_ || value == finished_) {
      finished_ = value;
      return;
    }
    willChangeValue("isFinished");
    finished_ = value;
    didChangeValue("isFinished");
  }
  std::atomic<bool> started_{false};
  std::atomic<bool> executing_{false};
  std::atomic<bool> finished_{false};
};

TEST(OperationTests, SynchronousOperationAnnouncesItsStatesInOrder) {
  auto op = BlockOperation::create([] {});
  ChangeLog log;
  log.observe(*op);
  op->start();
  EXPECT_EQ(log.entries(), (std::vector<std::string>{"isExecuting:will", "isExecuting:did",
                                                     "isExecuting:will", "isExecuting:did",
                                                     "isFinished:will", "isFinished:did"}));
  EXPECT_TRUE(op->isFinished());
  EXPECT_FALSE(op->isExecuting());
  EXPECT_FALSE(op->isAsynchronous());
  op->start();  // a second start changes nothing
  EXPECT_EQ(log.entries().size(), 6u);
}

TEST(OperationTests, CancelledBeforeStartNeverRunsItsWork) {
  bool ran = false;
  auto op = BlockOperation::create([&] { ran = true; });
  ChangeLog log;
  log.observe(*op);
  op->cancel();
  op->cancel();
  op->start();
  EXPECT_FALSE(ran);
  EXPECT_TRUE(op->isCancelled());
  EXPECT_TRUE(op->isFinished());
  EXPECT_EQ(log.entries(), (std::vector<std::string>{"isCancelled:will", "isCancelled:did",
                                                     "isFinished:will", "isFinished:did"}));
}

TEST(OperationTests, ObserverRemovedDuringANotificationIsNotCalledAgain) {
  auto op = BlockOperation::create([] {});
  int calls = 0;
  Operation::ObserverToken token = 0;
  token = op->addObserver("isExecuting", [&](Operation& o, const std::string&, KeyValueChange) {
    ++calls;
    o.removeObserver(token);
  });
  op->start();
  EXPECT_EQ(calls, 1);
}

TEST(OperationQueueTests, OperationCountIncludesTheRunningOperationUntilItFinishes) {
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(1);
  dispatch::DispatchSemaphore started, release;
  queue->addOperationWithBlock([&] {
    started.signal();
    release.wait();
  });
  queue->addOperationWithBlock([] {});
  ASSERT_TRUE(started.wait(kTestTimeout));
  EXPECT_EQ(queue->operationCount(), 2u);
  release.signal();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(queue->operationCount(), 0u);
}

TEST(OperationQueueTests, MaxConcurrencyOneRunsOperationsOneAtATimeInOrder) {
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(1);
  std::vector<int> order;
  std::atomic<int> active{0};
  std::atomic<bool> overlapped{false};
  std::atomic<bool> onMain{false};
  for (int i = 0; i < 200; ++i) {
    queue->addOperationWithBlock([&, i] {
      if (++active > 1) overlapped = true;
      if (dispatch::isMainThread()) onMain = true;
      order.push_back(i);
      --active;
    });
  }
  queue->waitUntilAllOperationsAreFinished();
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(order[i], i);
  EXPECT_FALSE(overlapped);
  EXPECT_FALSE(onMain);
}

TEST(OperationQueueTests, UnlimitedQueueRunsOperationsSideBySide) {
  auto queue = OperationQueue::create();
  dispatch::DispatchSemaphore a, b;
  std::atomic<bool> bothSawEachOther{true};
  queue->addOperationWithBlock([&] {
    a.signal();
    if (!b.wait(kTestTimeout)) bothSawEachOther = false;
  });
  queue->addOperationWithBlock([&] {
    b.signal();
    if (!a.wait(kTestTimeout)) bothSawEachOther = false;
  });
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(bothSawEachOther);
}

TEST(OperationQueueTests, AsynchronousOperationHoldsItsSlotUntilItFinishes) {
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(1);
  auto first = ManualOperation::create();
  auto second = ManualOperation::create();
  ChangeLog log;
  log.observe(*first);
  queue->addOperation(first);
  queue->addOperation(second);
  // Once start() has returned, the first operation still holds the only slot.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!first->mainRan && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
  ASSERT_TRUE(first->mainRan);
  EXPECT_EQ(queue->operationCount(), 2u);
  EXPECT_FALSE(second->mainRan);

  first->cancel();  // announces isFinished
  first->finish();  // changes nothing more
  while (!second->mainRan && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
  ASSERT_TRUE(second->mainRan);
  // The first operation freed its slot once: the second one is still counted.
  EXPECT_EQ(queue->operationCount(), 1u);
  second->finish();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(log.entries(),
            (std::vector<std::string>{"isExecuting:will", "isExecuting:did", "isExecuting:will",
                                      "isExecuting:did", "isFinished:will", "isFinished:did",
                                      "isCancelled:will", "isCancelled:did"}));
}

TEST(OperationQueueTests, AsynchronousOperationCancelledBeforeStartDoesNotBlockASerialQueue) {
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(1);
  dispatch::DispatchSemaphore release;
  queue->addOperationWithBlock([&] { release.wait(); });
  auto silent = ManualOperation::create();
  ChangeLog log;
  log.observe(*silent);
  queue->addOperation(silent);
  std::atomic<bool> lastRan{false};
  queue->addOperationWithBlock([&] { lastRan = true; });
  silent->cancel();
  release.signal();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(lastRan);
  EXPECT_FALSE(silent->mainRan);
  EXPECT_EQ(log.entries(), (std::vector<std::string>{"isCancelled:will", "isCancelled:did"}));
}

TEST(OperationQueueTests, CancelAllOperationsSkipsTheWaitingWork) {
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(1);
  dispatch::DispatchSemaphore started, release;
  std::atomic<int> ran{0};
  queue->addOperationWithBlock([&] {
    started.signal();
    release.wait();
    ++ran;
  });
  for (int i = 0; i < 5; ++i) queue->addOperationWithBlock([&] { ++ran; });
  ASSERT_TRUE(started.wait(kTestTimeout));
  queue->cancelAllOperations();
  release.signal();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(ran.load(), 1);
}

TEST(OperationQueueTests, RefusesOperationsItCannotRun) {
  auto queue = OperationQueue::create();
  auto op = BlockOperation::create([] {});
  EXPECT_FALSE(queue->addOperation(nullptr));
  EXPECT_TRUE(queue->addOperation(op));
  EXPECT_FALSE(queue->addOperation(op));
  EXPECT_FALSE(OperationQueue::create()->addOperation(op));
  queue->waitUntilAllOperationsAreFinished();
  auto finished = BlockOperation::create([] {});
  finished->start();
  EXPECT_FALSE(queue->addOperation(finished));
}

TEST(OperationQueueTests, QueueLetGoByItsOwnerStillRunsItsOperations) {
  dispatch::DispatchSemaphore done;
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(1);
  std::atomic<int> ran{0};
  for (int i = 0; i < 3; ++i) queue->addOperationWithBlock([&] { ++ran; });
  queue->addOperationWithBlock([&] { done.signal(); });
  queue.reset();
  EXPECT_TRUE(done.wait(kTestTimeout));
  EXPECT_EQ(ran.load(), 3);
}

TEST(OperationQueueTests, MainOperationQueueRunsOnTheMainThreadWhenPumped) {
  auto main = OperationQueue::main();
  EXPECT_EQ(main->name(), "NSOperationQueue Main Queue");
  EXPECT_EQ(main->maxConcurrentOperationCount(), 1);
  main->setMaxConcurrentOperationCount(4);
  EXPECT_EQ(main->maxConcurrentOperationCount(), 1);
  std::vector<int> order;
  std::atomic<bool> offMain{false};
  std::thread([&] {
    for (int i = 0; i < 3; ++i) {
      main->addOperationWithBlock([&, i] {
        if (!dispatch::isMainThread()) offMain = true;
        order.push_back(i);
      });
    }
  }).join();
  EXPECT_EQ(main->operationCount(), 3u);
  main->waitUntilAllOperationsAreFinished();  // pumps: this is the main thread
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_FALSE(offMain);
}

}  // namespace
}  // namespace foundation
