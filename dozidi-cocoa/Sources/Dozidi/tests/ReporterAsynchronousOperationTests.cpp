#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiAsynchronousOperation.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/OperationQueue.h"

namespace {

class RecordingOperation : public DozidiAsynchronousOperation {
 public:
  static std::shared_ptr<RecordingOperation> create() {
    auto operation = std::shared_ptr<RecordingOperation>(new RecordingOperation());
    for (const char* key : {"isExecuting", "isFinished", "isCancelled"}) {
      operation->addObserver(key, [raw = operation.get()](foundation::Operation&, const std::string& k,
                                                          foundation::KeyValueChange change) {
        raw->notifications.push_back((change == foundation::KeyValueChange::Will ? "will " : "did ") + k);
      });
    }
    return operation;
  }
  void main() override { ++mainRuns; }

  int mainRuns = 0;
  std::vector<std::string> notifications;
};

TEST(ReporterAsynchronousOperationTests, StartOnACancelledOperationOnlyFinishesIt) {
  auto operation = RecordingOperation::create();
  operation->cancel();
  operation->notifications.clear();
  operation->start();
  EXPECT_EQ(operation->mainRuns, 0);
  EXPECT_TRUE(operation->isFinished());
  EXPECT_FALSE(operation->isExecuting());
  EXPECT_TRUE(operation->isAsynchronous());
  EXPECT_EQ(operation->notifications, (std::vector<std::string>{"will isFinished", "did isFinished"}));
}

TEST(ReporterAsynchronousOperationTests, CancelWhileRunningAnnouncesEachFlagInOrder) {
  auto operation = RecordingOperation::create();
  operation->start();
  EXPECT_EQ(operation->mainRuns, 1);
  EXPECT_TRUE(operation->isExecuting());
  operation->notifications.clear();
  operation->cancel();
  EXPECT_FALSE(operation->isExecuting());
  EXPECT_TRUE(operation->isFinished());
  EXPECT_TRUE(operation->isCancelled());
  EXPECT_EQ(operation->notifications,
            (std::vector<std::string>{"will isExecuting", "did isExecuting", "will isFinished", "did isFinished",
                                      "will isCancelled", "did isCancelled"}));
}

TEST(ReporterAsynchronousOperationTests, CompletingTwiceAnnouncesFinishedBothTimesExecutingOnce) {
  auto operation = RecordingOperation::create();
  operation->start();
  operation->notifications.clear();
  operation->completeOperation();
  operation->completeOperation();
  EXPECT_EQ(operation->notifications,
            (std::vector<std::string>{"will isExecuting", "did isExecuting", "will isFinished", "did isFinished",
                                      "will isFinished", "did isFinished"}));
}

// Work that ends on another thread and announces its end twice, as an upload that is cancelled
// and then completes does.
class UploadLikeOperation : public DozidiAsynchronousOperation {
 public:
  struct Counters {
    std::atomic<int> running{0};
    std::atomic<int> maximum{0};
    std::atomic<int> finished{0};
  };
  static std::shared_ptr<UploadLikeOperation> create(Counters& counters, bool cancelFirst) {
    return std::shared_ptr<UploadLikeOperation>(new UploadLikeOperation(counters, cancelFirst));
  }
  void main() override {
    const int now = ++counters_.running;
    int seen = counters_.maximum.load();
    while (now > seen && !counters_.maximum.compare_exchange_weak(seen, now)) {
    }
    auto self = std::static_pointer_cast<UploadLikeOperation>(shared_from_this());
    dispatch::DispatchQueue::global()->async([self] {
      --self->counters_.running;
      if (self->cancelFirst_) self->cancel();
      self->completeOperation();
      self->completeOperation();
      ++self->counters_.finished;
    });
  }

 private:
  UploadLikeOperation(Counters& counters, bool cancelFirst) : counters_(counters), cancelFirst_(cancelFirst) {}
  Counters& counters_;
  bool cancelFirst_;
};

TEST(ReporterAsynchronousOperationTests, QueueNeverRunsMoreThanItsMaximumWhenFinishedIsAnnouncedTwice) {
  UploadLikeOperation::Counters counters;
  auto queue = foundation::OperationQueue::create();
  queue->setMaxConcurrentOperationCount(2);
  constexpr int kOperations = 200;
  for (int i = 0; i < kOperations; ++i) ASSERT_TRUE(queue->addOperation(UploadLikeOperation::create(counters, i % 2 == 0)));
  queue->waitUntilAllOperationsAreFinished();
  while (counters.finished < kOperations) std::this_thread::yield();
  EXPECT_LE(counters.maximum, 2);
  EXPECT_EQ(queue->operationCount(), 0u);
}

}  // namespace
