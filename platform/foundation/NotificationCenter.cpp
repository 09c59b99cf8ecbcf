#include "platform/foundation/NotificationCenter.h"

#include <algorithm>
#include <atomic>

#include "platform/foundation/OperationQueue.h"

namespace foundation {

struct NotificationCenter::Entry {
  ObserverToken token = 0;
  std::string name;  ///< empty: every notification
  std::shared_ptr<OperationQueue> queue;
  const void* identity = nullptr;
  bool weaklyHeld = false;
  std::weak_ptr<const void> observer;
  Block block;
  std::atomic<bool> removed{false};
};

NotificationCenter& NotificationCenter::defaultCenter() {
  static auto* center = new NotificationCenter();
  return *center;
}

void NotificationCenter::post(const std::string& name, Value object, Dictionary userInfo) {
  post(Notification{name, std::move(object), nullptr, std::move(userInfo)});
}

void NotificationCenter::postFromSender(const std::string& name, const void* sender,
                                        Dictionary userInfo) {
  post(Notification{name, Value(), sender, std::move(userInfo)});
}

void NotificationCenter::post(const Notification& notification) {
  // Observers run without the lock, so a block may post, add or remove observers (itself too).
  std::vector<std::shared_ptr<Entry>> matching;
  {
    std::lock_guard lock(mutex_);
    for (const auto& entry : entries_) {
      if (entry->name.empty() || entry->name == notification.name) matching.push_back(entry);
    }
  }
  std::vector<ObserverToken> gone;
  for (const auto& entry : matching) {
    if (entry->removed) continue;
    if (entry->weaklyHeld && entry->observer.expired()) {
      gone.push_back(entry->token);
      continue;
    }
    if (entry->queue) {
      entry->queue->addOperationWithBlock([block = entry->block, notification] { block(notification); });
    } else {
      entry->block(notification);
    }
  }
  for (ObserverToken token : gone) removeObserver(token);
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(
    std::string name, std::shared_ptr<OperationQueue> queue, Block block) {
  return addEntry(std::move(name), std::move(queue), nullptr, {}, false, std::move(block));
}

NotificationCenter::ObserverToken NotificationCenter::addEntry(
    std::string name, std::shared_ptr<OperationQueue> queue, const void* identity,
    std::weak_ptr<const void> observer, bool weaklyHeld, Block block) {
  auto entry = std::make_shared<Entry>();
  entry->name = std::move(name);
  entry->queue = std::move(queue);
  entry->identity = identity;
  entry->weaklyHeld = weaklyHeld;
  entry->observer = std::move(observer);
  entry->block = std::move(block);
  std::lock_guard lock(mutex_);
  entry->token = nextToken_++;
  entries_.push_back(entry);
  return entry->token;
}

void NotificationCenter::removeObserver(ObserverToken token) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [token](const auto& entry) {
    if (entry->token != token) return false;
    entry->removed = true;
    return true;
  });
}

void NotificationCenter::removeObserver(const void* observer) {
  if (!observer) return;
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [observer](const auto& entry) {
    if (entry->identity != observer) return false;
    entry->removed = true;
    return true;
  });
}

void NotificationCenter::removeObserver(const void* observer, const std::string& name) {
  if (!observer) return;
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [observer, &name](const auto& entry) {
    if (entry->identity != observer || entry->name != name) return false;
    entry->removed = true;
    return true;
  });
}

}  // namespace foundation
