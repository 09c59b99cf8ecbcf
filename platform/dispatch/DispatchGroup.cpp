#include "platform/dispatch/DispatchGroup.h"

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"

namespace dispatch {

std::shared_ptr<DispatchGroup> DispatchGroup::create() { return std::make_shared<DispatchGroup>(); }

void DispatchGroup::enter() {
  std::lock_guard lock(mutex_);
  ++count_;
}

bool DispatchGroup::leave() {
  decltype(notifications_) due;
  {
    std::lock_guard lock(mutex_);
    if (count_ == 0) return false;
    if (--count_ > 0) return true;
    due.swap(notifications_);
    // Notified under the lock: a waiter may destroy the group as soon as its wait returns.
    cv_.notify_all();
  }
  for (auto& [queue, block] : due) queue->async(std::move(block));
  return true;
}

void DispatchGroup::wait() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return count_ == 0; });
}

bool DispatchGroup::wait(double timeoutSeconds) {
  Clock& clock = Clock::current();
  const double deadline = clock.deadlineAfter(timeoutSeconds);
  std::unique_lock lock(mutex_);
  return clock.waitUntil(cv_, lock, deadline, [this] { return count_ == 0; });
}

void DispatchGroup::notify(std::shared_ptr<DispatchQueue> queue, std::function<void()> block) {
  if (!queue || !block) return;
  {
    std::lock_guard lock(mutex_);
    if (count_ > 0) {
      notifications_.emplace_back(std::move(queue), std::move(block));
      return;
    }
  }
  queue->async(std::move(block));
}

}  // namespace dispatch
