#include "platform/dispatch/Once.h"

namespace dispatch {
namespace {

// The address of a thread-local object identifies the calling thread.
const void* callingThread() {
  thread_local const char marker = 0;
  return &marker;
}

}  // namespace

void OnceFlag::call(const std::function<void()>& fn) {
  if (done_.load(std::memory_order_acquire)) return;
  // A call from inside the function would wait for itself forever.
  if (runner_.load(std::memory_order_acquire) == callingThread()) return;
  std::lock_guard lock(mutex_);
  if (done_.load(std::memory_order_relaxed)) return;
  runner_.store(callingThread(), std::memory_order_release);
  if (fn) fn();
  runner_.store(nullptr, std::memory_order_release);
  done_.store(true, std::memory_order_release);
}

void OnceFlag::reset() {
  if (runner_.load(std::memory_order_acquire) == callingThread()) {
    done_.store(false, std::memory_order_release);
    return;
  }
  std::lock_guard lock(mutex_);
  done_.store(false, std::memory_order_release);
}

}  // namespace dispatch
