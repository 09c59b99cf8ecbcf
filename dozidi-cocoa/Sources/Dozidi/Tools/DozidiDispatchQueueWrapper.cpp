#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/dispatch/Once.h"

std::shared_ptr<DozidiDispatchBlock> DozidiDispatchBlock::create(std::function<void()> block) {
  return std::shared_ptr<DozidiDispatchBlock>(new DozidiDispatchBlock(std::move(block)));
}

void DozidiDispatchBlock::perform() const {
  if (!isCancelled() && block_) block_();
}

DozidiDispatchQueueWrapper::DozidiDispatchQueueWrapper(std::string name)
    : queue_(dispatch::DispatchQueue::create(std::move(name))) {}

DozidiDispatchQueueWrapper::~DozidiDispatchQueueWrapper() = default;

std::shared_ptr<DozidiDispatchQueueWrapper> DozidiDispatchQueueWrapper::create() { return initWithName("dozidi-default"); }

std::shared_ptr<DozidiDispatchQueueWrapper> DozidiDispatchQueueWrapper::initWithName(std::string name) {
  return std::shared_ptr<DozidiDispatchQueueWrapper>(new DozidiDispatchQueueWrapper(std::move(name)));
}

void DozidiDispatchQueueWrapper::dispatchAsyncWithBlock(std::function<void()> block) { queue_->async(std::move(block)); }

void DozidiDispatchQueueWrapper::dispatchAsyncOnMainQueue(std::function<void()> block) {
  dispatch::DispatchQueue::main()->async(std::move(block));
}

void DozidiDispatchQueueWrapper::dispatchSyncOnMainQueue(std::function<void()> block) {
  if (dispatch::isMainThread()) {
    block();
    return;
  }
  dispatch::DispatchQueue::main()->sync(std::move(block));
}

void DozidiDispatchQueueWrapper::dispatchAfter(double interval, std::shared_ptr<DozidiDispatchBlock> block) {
  if (!block) return;
  queue_->asyncAfter(interval, [block = std::move(block)] { block->perform(); });
}

void DozidiDispatchQueueWrapper::dispatchAfter(double interval, std::function<void()> block) {
  dispatchAfter(interval, DozidiDispatchBlock::create(std::move(block)));
}

void DozidiDispatchQueueWrapper::dispatchCancel(const std::shared_ptr<DozidiDispatchBlock>& block) {
  if (block) block->cancel();
}

void DozidiDispatchQueueWrapper::dispatchOnce(dispatch::OnceFlag& token, const std::function<void()>& block) {
  token.call(block);
}
