#include "TovelCommon/FinishingOperation.h"

#include "platform/dispatch/DispatchQueue.h"

namespace tovel {

namespace {
constexpr const char* kIsExecuting = "isExecuting";
constexpr const char* kIsFinished = "isFinished";
}  // namespace

void FinishingOperation::setExecuting(bool executing) {
  if (executing_ == executing) return;
  willChangeValue(kIsExecuting);
  executing_ = executing;
  didChangeValue(kIsExecuting);
}

void FinishingOperation::setFinished(bool finished) {
  // Before start an operation queue is not yet watching for the end; the queue learns of a
  // cancelled operation when its start() returns.
  if (!started_ || finished_ == finished) {
    finished_ = finished;
    return;
  }
  willChangeValue(kIsFinished);
  finished_ = finished;
  didChangeValue(kIsFinished);
}

void FinishingOperation::start() {
  if (isCancelled()) return;
  // A second start would run the work twice and announce a finish the queue already saw.
  if (startCalled_.exchange(true)) return;
  setExecuting(true);
  started_ = true;
  main();
}

void FinishingOperation::cancel() {
  setExecuting(false);
  setFinished(true);
  foundation::Operation::cancel();
}

void FinishingOperation::finish() {
  setExecuting(false);
  setFinished(true);
}

DispatchingFinishingOperation::DispatchingFinishingOperation(std::shared_ptr<dispatch::DispatchQueue> queue,
                                                             Block block)
    : queue_(std::move(queue)), block_(std::move(block)) {}

std::shared_ptr<DispatchingFinishingOperation> DispatchingFinishingOperation::create(
    std::shared_ptr<dispatch::DispatchQueue> queue, Block block) {
  return std::shared_ptr<DispatchingFinishingOperation>(
      new DispatchingFinishingOperation(std::move(queue), std::move(block)));
}

void DispatchingFinishingOperation::main() {
  if (!queue_ || !block_) {
    finish();
    return;
  }
  std::weak_ptr<DispatchingFinishingOperation> weakSelf =
      std::static_pointer_cast<DispatchingFinishingOperation>(shared_from_this());
  queue_->async([weakSelf] {
    auto self = weakSelf.lock();
    if (!self) return;
    auto finish = [weakSelf] {
      if (auto operation = weakSelf.lock()) operation->finish();
    };
    // The block gets no strong reference from here: only what it captures keeps the operation.
    const Block block = self->block_;
    self.reset();
    block(finish);
  });
}

std::shared_ptr<foundation::OperationQueue> makeOperationQueue(long maxConcurrentOperationCount) {
  auto queue = foundation::OperationQueue::create();
  queue->setMaxConcurrentOperationCount(maxConcurrentOperationCount);
  return queue;
}

}  // namespace tovel
