#pragma once
#include <atomic>
#include <functional>
#include <mutex>

namespace dispatch {

/// A once flag usable as a function-local or namespace-scope static (constant-initialised).
/// call() runs its function the first time only; other threads calling meanwhile wait for it to
/// end. A call made from inside the function itself returns at once instead of deadlocking.
class OnceFlag {
 public:
  constexpr OnceFlag() = default;
  OnceFlag(const OnceFlag&) = delete;
  OnceFlag& operator=(const OnceFlag&) = delete;

  void call(const std::function<void()>& fn);
  bool done() const { return done_.load(std::memory_order_acquire); }
  /// Lets the next call() run its function again (tests and explicit resets).
  void reset();

 private:
  std::atomic<bool> done_{false};
  std::atomic<const void*> runner_{nullptr};
  std::mutex mutex_;
};

}  // namespace dispatch
