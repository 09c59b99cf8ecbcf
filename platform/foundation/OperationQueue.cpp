#include "platform/foundation/OperationQueue.h"

#include <algorithm>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"

namespace foundation {
namespace {

thread_local const OperationQueue* tCurrentOperationQueue = nullptr;

long normalisedMaxCount(long count) {
  if (count == OperationQueue::kDefaultMaxConcurrentOperationCount) return count;
  return count < 1 ? 1 : count;
}

}  // namespace

struct OperationQueue::Entry {
  std::shared_ptr<Operation> operation;
  Operation::ObserverToken token = 0;
};

OperationQueue::OperationQueue(std::shared_ptr<dispatch::DispatchQueue> target, long maxCount)
    : target_(std::move(target)), maxCount_(maxCount) {}

OperationQueue::~OperationQueue() = default;

std::shared_ptr<OperationQueue> OperationQueue::create() {
  return std::shared_ptr<OperationQueue>(
      new OperationQueue(dispatch::DispatchQueue::global(), kDefaultMaxConcurrentOperationCount));
}

std::shared_ptr<OperationQueue> OperationQueue::main() {
  static auto* queue = [] {
    auto main = std::shared_ptr<OperationQueue>(new OperationQueue(dispatch::DispatchQueue::main(), 1));
    main->isMain_ = true;
    main->name_ = "NSOperationQueue Main Queue";
    return new std::shared_ptr<OperationQueue>(main);
  }();
  return *queue;
}

void OperationQueue::setName(std::string name) {
  std::lock_guard lock(mutex_);
  name_ = std::move(name);
}

std::string OperationQueue::name() const {
  std::lock_guard lock(mutex_);
  return name_;
}

void OperationQueue::setMaxConcurrentOperationCount(long count) {
  if (isMain_) return;
  {
    std::lock_guard lock(mutex_);
    maxCount_ = normalisedMaxCount(count);
  }
  startWaitingOperations();
}

long OperationQueue::maxConcurrentOperationCount() const {
  std::lock_guard lock(mutex_);
  return maxCount_;
}

bool OperationQueue::addOperation(std::shared_ptr<Operation> operation) {
  if (!operation || operation->isExecuting() || operation->isFinished()) return false;
  if (operation->enqueued_.exchange(true)) return false;
  auto entry = std::make_shared<Entry>();
  entry->operation = operation;
  std::weak_ptr<OperationQueue> weakSelf = weak_from_this();
  std::weak_ptr<Entry> weakEntry = entry;
  entry->token = operation->addObserver(
      "isFinished", [weakSelf, weakEntry](Operation& op, const std::string&, KeyValueChange change) {
        if (change != KeyValueChange::Did || !op.isFinished()) return;
        auto self = weakSelf.lock();
        auto found = weakEntry.lock();
        if (self && found) self->operationDidFinish(found);
      });
  {
    std::lock_guard lock(mutex_);
    waiting_.push_back(std::move(entry));
    if (!selfWhileBusy_) selfWhileBusy_ = shared_from_this();
  }
  startWaitingOperations();
  return true;
}

void OperationQueue::addOperationWithBlock(std::function<void()> block) {
  (void)addOperation(BlockOperation::create(std::move(block)));
}

std::size_t OperationQueue::operationCount() const {
  std::lock_guard lock(mutex_);
  return waiting_.size() + running_.size();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  if (isMain_ && dispatch::isMainThread()) {
    // The main queue's operations run on this very thread: pump instead of blocking it.
    (void)dispatch::runMainLoopUntil([this] { return operationCount() == 0; }, dispatch::kForever);
    return;
  }
  std::unique_lock lock(mutex_);
  allFinished_.wait(lock, [this] { return waiting_.empty() && running_.empty(); });
}

void OperationQueue::cancelAllOperations() {
  std::vector<std::shared_ptr<Operation>> operations;
  {
    std::lock_guard lock(mutex_);
    for (const auto& entry : running_) operations.push_back(entry->operation);
    for (const auto& entry : waiting_) operations.push_back(entry->operation);
  }
  for (const auto& operation : operations) operation->cancel();
}

bool OperationQueue::isCurrent() const { return tCurrentOperationQueue == this; }

void OperationQueue::startWaitingOperations() {
  std::vector<std::shared_ptr<Entry>> toStart;
  {
    std::lock_guard lock(mutex_);
    while (!waiting_.empty() &&
           (maxCount_ < 0 || running_.size() < static_cast<std::size_t>(maxCount_))) {
      toStart.push_back(waiting_.front());
      running_.push_back(waiting_.front());
      waiting_.pop_front();
    }
  }
  for (auto& entry : toStart) {
    target_->async([self = shared_from_this(), entry] { self->run(entry); });
  }
}

void OperationQueue::run(const std::shared_ptr<Entry>& entry) {
  const OperationQueue* previous = tCurrentOperationQueue;
  tCurrentOperationQueue = this;
  entry->operation->start();
  tCurrentOperationQueue = previous;
  // An operation cancelled before it started may finish without announcing it.
  if (entry->operation->isFinished()) operationDidFinish(entry);
}

void OperationQueue::operationDidFinish(const std::shared_ptr<Entry>& entry) {
  // Declared first so that it is released last, after this function no longer touches members.
  std::shared_ptr<OperationQueue> keepAlive;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find(running_.begin(), running_.end(), entry);
    if (it == running_.end()) return;  // not running, or its slot is already free
    running_.erase(it);
    if (waiting_.empty() && running_.empty()) {
      keepAlive = std::move(selfWhileBusy_);
      allFinished_.notify_all();
      // A main loop waiting for this queue to empty sleeps until woken: wake it.
      dispatch::wakeMainLoop();
    }
  }
  entry->operation->removeObserver(entry->token);
  startWaitingOperations();
}

}  // namespace foundation
