#pragma once
#include <condition_variable>
#include <memory>
#include <mutex>

namespace dispatch {

/// A counting semaphore whose timed waits follow the process clock.
class DispatchSemaphore {
 public:
  /// `value` below zero counts as zero.
  explicit DispatchSemaphore(long value = 0);
  static std::shared_ptr<DispatchSemaphore> create(long value = 0);
  DispatchSemaphore(const DispatchSemaphore&) = delete;
  DispatchSemaphore& operator=(const DispatchSemaphore&) = delete;

  /// Raises the count and wakes one waiter.
  void signal();
  /// Waits until the count is positive, then lowers it.
  void wait();
  /// As wait(), giving up after `timeoutSeconds` on the process clock; false on time-out (the count
  /// is then unchanged).
  [[nodiscard]] bool wait(double timeoutSeconds);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  long value_;
};

}  // namespace dispatch
