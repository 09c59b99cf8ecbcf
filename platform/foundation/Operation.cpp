#include "platform/foundation/Operation.h"

#include <algorithm>

namespace foundation {

struct Operation::ObserverEntry {
  ObserverToken token;
  std::string key;
  Observer observer;
  std::atomic<bool> removed{false};
};

Operation::Operation() = default;
Operation::~Operation() = default;

void Operation::start() {
  // Only the first start runs the operation, whichever thread calls it.
  if (started_.exchange(true)) return;
  if (isCancelled()) {
    willChangeValue("isFinished");
    finished_ = true;
    didChangeValue("isFinished");
    return;
  }
  willChangeValue("isExecuting");
  executing_ = true;
  didChangeValue("isExecuting");
  main();
  willChangeValue("isExecuting");
  executing_ = false;
  didChangeValue("isExecuting");
  willChangeValue("isFinished");
  finished_ = true;
  didChangeValue("isFinished");
}

void Operation::main() {}

void Operation::cancel() {
  if (cancelled_) return;
  willChangeValue("isCancelled");
  cancelled_ = true;
  didChangeValue("isCancelled");
}

bool Operation::isExecuting() const { return executing_; }
bool Operation::isFinished() const { return finished_; }
bool Operation::isCancelled() const { return cancelled_; }
bool Operation::isAsynchronous() const { return false; }

Operation::ObserverToken Operation::addObserver(std::string key, Observer observer) {
  auto entry = std::make_shared<ObserverEntry>();
  entry->key = std::move(key);
  entry->observer = std::move(observer);
  std::lock_guard lock(observersMutex_);
  entry->token = nextToken_++;
  observers_.push_back(entry);
  return entry->token;
}

void Operation::removeObserver(ObserverToken token) {
  std::lock_guard lock(observersMutex_);
  auto it = std::find_if(observers_.begin(), observers_.end(),
                         [token](const auto& entry) { return entry->token == token; });
  if (it == observers_.end()) return;
  (*it)->removed = true;
  observers_.erase(it);
}

void Operation::willChangeValue(const std::string& key) { notify(key, KeyValueChange::Will); }

void Operation::didChangeValue(const std::string& key) { notify(key, KeyValueChange::Did); }

void Operation::notify(const std::string& key, KeyValueChange change) {
  // Observers run without the lock, so they may add or remove observers, or free the queue slot.
  std::vector<std::shared_ptr<ObserverEntry>> matching;
  {
    std::lock_guard lock(observersMutex_);
    for (const auto& entry : observers_) {
      if (entry->key == key) matching.push_back(entry);
    }
  }
  for (const auto& entry : matching) {
    if (!entry->removed) entry->observer(*this, key, change);
  }
}

BlockOperation::BlockOperation(std::function<void()> block) : block_(std::move(block)) {}

std::shared_ptr<BlockOperation> BlockOperation::create(std::function<void()> block) {
  return std::shared_ptr<BlockOperation>(new BlockOperation(std::move(block)));
}

void BlockOperation::main() {
  if (block_) block_();
}

}  // namespace foundation
