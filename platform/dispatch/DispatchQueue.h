#pragma once
#include <functional>
#include <memory>
#include <string>

namespace dispatch {

namespace detail {
struct QueueState;
}

/// A queue of blocks: the main queue (run by the main run loop, see MainRunLoop.h), serial queues
/// (one block at a time, in order, on a thread of their own) and the global concurrent queue (a
/// pool of threads that grows while every thread is busy).
///
/// Blocks already handed to a queue run even when the last owner of the queue lets go first, and
/// a serial queue whose last owner is a block running on it finishes that block and its queued
/// ones without blocking anyone.
class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
 public:
  enum class Kind { Main, Serial, Concurrent };

  /// The queue of the main run loop. Process-wide, never destroyed.
  static std::shared_ptr<DispatchQueue> main();
  /// The global concurrent queue. Process-wide, never destroyed.
  static std::shared_ptr<DispatchQueue> global();
  /// A new serial queue named `label`.
  static std::shared_ptr<DispatchQueue> create(std::string label);

  ~DispatchQueue();
  DispatchQueue(const DispatchQueue&) = delete;
  DispatchQueue& operator=(const DispatchQueue&) = delete;

  /// Queues `block` and returns at once.
  void async(std::function<void()> block);
  /// Runs `block` on this queue and returns when it has run. Called from a block already running
  /// on this queue (or, for the main queue, from the main thread) it runs `block` inline instead
  /// of waiting for itself; on the global queue it runs inline on the calling thread.
  void sync(std::function<void()> block);
  /// Queues `block` once `delaySeconds` have passed on the process clock. NaN and negative delays
  /// count as zero; an infinite delay never fires. The queue is kept alive until then.
  void asyncAfter(double delaySeconds, std::function<void()> block);

  const std::string& label() const;
  Kind kind() const;
  /// True on a thread running a block of this queue (the main queue: on the main thread).
  bool isCurrent() const;

 private:
  explicit DispatchQueue(std::shared_ptr<detail::QueueState> state);
  std::shared_ptr<detail::QueueState> state_;
};

}  // namespace dispatch
