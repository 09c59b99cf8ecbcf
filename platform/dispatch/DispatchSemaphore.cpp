#include "platform/dispatch/DispatchSemaphore.h"

#include "platform/dispatch/Clock.h"

namespace dispatch {

DispatchSemaphore::DispatchSemaphore(long value) : value_(value < 0 ? 0 : value) {}

std::shared_ptr<DispatchSemaphore> DispatchSemaphore::create(long value) {
  return std::make_shared<DispatchSemaphore>(value);
}

void DispatchSemaphore::signal() {
  // Notified under the lock: a waiter may destroy the semaphore as soon as its wait returns.
  std::lock_guard lock(mutex_);
  ++value_;
  cv_.notify_one();
}

void DispatchSemaphore::wait() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return value_ > 0; });
  --value_;
}

bool DispatchSemaphore::wait(double timeoutSeconds) {
  Clock& clock = Clock::current();
  const double deadline = clock.deadlineAfter(timeoutSeconds);
  std::unique_lock lock(mutex_);
  if (!clock.waitUntil(cv_, lock, deadline, [this] { return value_ > 0; })) return false;
  --value_;
  return true;
}

}  // namespace dispatch
