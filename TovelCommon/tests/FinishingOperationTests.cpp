#include "TovelCommon/FinishingOperation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"

namespace tovel {
namespace {

using foundation::KeyValueChange;

/// What the operations did, in order, with the finish closures they were given; tests wait on it
/// for work that runs on other threads.
class Journal {
 public:
  void add(std::string entry, std::function<void()> finish = {}) {
    std::lock_guard lock(mutex_);
    entries_.push_back(entry);
    if (finish) finishes_[entry] = std::move(finish);
    changed_.notify_all();
  }
  std::vector<std::string> entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  std::function<void()> finishOf(const std::string& entry) const {
    std::lock_guard lock(mutex_);
    auto found = finishes_.find(entry);
    return found == finishes_.end() ? std::function<void()>() : found->second;
  }
  /// Waits until `count` entries are in; a bound of real time keeps a broken run from hanging.
  bool waitForCount(std::size_t count) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return entries_.size() >= count; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> entries_;
  std::map<std::string, std::function<void()>> finishes_;
};

/// The serial queue the operations' blocks run on.
const std::shared_ptr<dispatch::DispatchQueue>& workQueue() {
  static auto work = dispatch::DispatchQueue::create("finishing-operation-tests");
  return work;
}

/// An operation whose block records its start and keeps its finish closure for the test to call.
std::shared_ptr<DispatchingFinishingOperation> recordingOperation(Journal& journal, const std::string& name) {
  return DispatchingFinishingOperation::create(workQueue(), [&journal, name](std::function<void()> finish) {
    journal.add(name, std::move(finish));
  });
}

/// Records every "isExecuting" and "isFinished" notification of `operation` as "key will/did".
std::shared_ptr<std::vector<std::string>> recordNotifications(foundation::Operation& operation) {
  auto seen = std::make_shared<std::vector<std::string>>();
  for (const char* key : {"isExecuting", "isFinished"}) {
    operation.addObserver(key, [seen](foundation::Operation&, const std::string& k, KeyValueChange change) {
      seen->push_back(k + (change == KeyValueChange::Will ? " will" : " did"));
    });
  }
  return seen;
}

bool waitForCount(const foundation::OperationQueue& queue, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (queue.operationCount() != count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(FinishingOperationTest, OneAtATimeQueueStartsEachWhenThePreviousHasFinished) {
  Journal journal;
  auto queue = makeOperationQueue(1);
  EXPECT_EQ(queue->maxConcurrentOperationCount(), 1);
  auto first = recordingOperation(journal, "first");
  auto second = recordingOperation(journal, "second");
  auto third = recordingOperation(journal, "third");
  ASSERT_TRUE(queue->addOperation(first));
  ASSERT_TRUE(queue->addOperation(second));
  ASSERT_TRUE(queue->addOperation(third));

  ASSERT_TRUE(journal.waitForCount(1));
  // main() has returned long ago, but without its finish the first holds the queue.
  EXPECT_TRUE(first->isExecuting());
  EXPECT_FALSE(first->isFinished());
  EXPECT_EQ(queue->operationCount(), 3u);
  EXPECT_EQ(journal.entries(), (std::vector<std::string>{"first"}));

  journal.finishOf("first")();
  ASSERT_TRUE(journal.waitForCount(2));
  EXPECT_TRUE(first->isFinished());
  EXPECT_FALSE(first->isExecuting());
  EXPECT_TRUE(waitForCount(*queue, 2));

  journal.finishOf("second")();
  ASSERT_TRUE(journal.waitForCount(3));
  journal.finishOf("third")();
  EXPECT_TRUE(waitForCount(*queue, 0));
  EXPECT_EQ(journal.entries(), (std::vector<std::string>{"first", "second", "third"}));
}

TEST(FinishingOperationTest, CancelledOperationsNeverBlockTheQueue) {
  Journal journal;
  auto queue = makeOperationQueue(1);
  auto running = recordingOperation(journal, "running");
  auto waiting = recordingOperation(journal, "cancelled while waiting");
  auto next = recordingOperation(journal, "next");
  auto last = recordingOperation(journal, "last");
  ASSERT_TRUE(queue->addOperation(running));
  ASSERT_TRUE(queue->addOperation(waiting));
  ASSERT_TRUE(queue->addOperation(next));
  ASSERT_TRUE(queue->addOperation(last));
  ASSERT_TRUE(journal.waitForCount(1));

  // Cancelled before it starts: finished at once but silently; the queue still counts it until
  // its turn comes and start() returns at once.
  waiting->cancel();
  EXPECT_TRUE(waiting->isFinished());
  EXPECT_EQ(queue->operationCount(), 4u);

  journal.finishOf("running")();
  ASSERT_TRUE(journal.waitForCount(2));
  EXPECT_TRUE(waitForCount(*queue, 2));

  // Cancelled while executing: the slot is freed although its work never called finish.
  auto seen = recordNotifications(*next);
  next->cancel();
  ASSERT_TRUE(journal.waitForCount(3));
  EXPECT_EQ(*seen, (std::vector<std::string>{"isExecuting will", "isExecuting did", "isFinished will",
                                             "isFinished did"}));
  journal.finishOf("last")();
  EXPECT_TRUE(waitForCount(*queue, 0));
  EXPECT_EQ(journal.entries(), (std::vector<std::string>{"running", "next", "last"}));
}

TEST(FinishingOperationTest, CancelledBeforeStartFinishesSilentlyAndNeverRuns) {
  Journal journal;
  auto operation = recordingOperation(journal, "never");
  auto seen = recordNotifications(*operation);
  operation->cancel();
  operation->start();
  EXPECT_TRUE(operation->isFinished());
  EXPECT_FALSE(operation->isExecuting());
  EXPECT_TRUE(operation->isCancelled());
  EXPECT_TRUE(operation->isAsynchronous());
  EXPECT_TRUE(seen->empty());
  // A later block on the same queue runs after anything the operation could have posted.
  workQueue()->sync([] {});
  EXPECT_TRUE(journal.entries().empty());
}

TEST(FinishingOperationTest, FinishTwiceAnnouncesEachChangeOnce) {
  Journal journal;
  auto operation = recordingOperation(journal, "op");
  operation->start();
  ASSERT_TRUE(journal.waitForCount(1));
  auto seen = recordNotifications(*operation);
  auto finish = journal.finishOf("op");
  finish();
  finish();
  EXPECT_EQ(*seen, (std::vector<std::string>{"isExecuting will", "isExecuting did", "isFinished will",
                                             "isFinished did"}));
  EXPECT_TRUE(operation->isFinished());

  // Starting again runs nothing and announces nothing.
  operation->start();
  workQueue()->sync([] {});
  EXPECT_EQ(journal.entries().size(), 1u);
  EXPECT_EQ(seen->size(), 4u);
}

TEST(FinishingOperationTest, FinishClosureOutlivingItsOperationDoesNothing) {
  Journal journal;
  auto operation = recordingOperation(journal, "gone");
  operation->start();
  ASSERT_TRUE(journal.waitForCount(1));
  auto finish = journal.finishOf("gone");
  operation.reset();
  finish();  // must not touch the freed operation
  SUCCEED();
}

}  // namespace
}  // namespace tovel
