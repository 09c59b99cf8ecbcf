#pragma once
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace dispatch {

class DispatchQueue;

/// Counts pieces of work in flight; waiters and notify blocks run once the count is back at zero.
class DispatchGroup {
 public:
  DispatchGroup() = default;
  static std::shared_ptr<DispatchGroup> create();
  DispatchGroup(const DispatchGroup&) = delete;
  DispatchGroup& operator=(const DispatchGroup&) = delete;

  void enter();
  /// Ends one piece of work. A leave without a matching enter is ignored (the count never goes
  /// below zero) and returns false.
  bool leave();
  /// Waits until the count is zero.
  void wait();
  /// As wait(), giving up after `timeoutSeconds` on the process clock; false on time-out.
  [[nodiscard]] bool wait(double timeoutSeconds);
  /// Queues `block` on `queue` once the count is zero: at once when it already is, else when the
  /// last leave() happens. Each notify block runs once.
  void notify(std::shared_ptr<DispatchQueue> queue, std::function<void()> block);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  long count_ = 0;
  std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> notifications_;
};

}  // namespace dispatch
