#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace dispatch {
class DispatchQueue;
class OnceFlag;
}  // namespace dispatch

/// A block that can be cancelled before it runs. Once cancelled, a run that comes due later does
/// nothing. Any thread may cancel it.
class DozidiDispatchBlock {
 public:
  static std::shared_ptr<DozidiDispatchBlock> create(std::function<void()> block);

  void cancel() { cancelled_.store(true, std::memory_order_release); }
  bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }
  /// Runs the block unless it was cancelled.
  void perform() const;

 private:
  explicit DozidiDispatchBlock(std::function<void()> block) : block_(std::move(block)) {}
  std::function<void()> block_;
  std::atomic<bool> cancelled_{false};
};

/// The reporter's way to threads and time: one private serial queue, plus the main queue. The
/// reporter's classes take one of these rather than the queues themselves, so that tests can
/// replace it. Blocks given to the wrapper run one at a time on its queue, in the order given.
class DozidiDispatchQueueWrapper {
 public:
  /// A wrapper over a new serial queue "dozidi-default".
  static std::shared_ptr<DozidiDispatchQueueWrapper> create();
  /// A wrapper over a new serial queue with that label. (The platform's quality-of-service
  /// attributes have no counterpart here; every queue runs at normal priority.)
  static std::shared_ptr<DozidiDispatchQueueWrapper> initWithName(std::string name);
  virtual ~DozidiDispatchQueueWrapper();

  /// Runs `block` later on the wrapper's queue.
  virtual void dispatchAsyncWithBlock(std::function<void()> block);
  /// Runs `block` later on the main queue.
  virtual void dispatchAsyncOnMainQueue(std::function<void()> block);
  /// Runs `block` on the main queue and returns after it ran; on the main thread it runs at once.
  virtual void dispatchSyncOnMainQueue(std::function<void()> block);
  /// Runs `block` on the wrapper's queue once `interval` seconds have passed on the process clock,
  /// unless it was cancelled by then.
  virtual void dispatchAfter(double interval, std::shared_ptr<DozidiDispatchBlock> block);
  /// The same for a block that is never cancelled.
  void dispatchAfter(double interval, std::function<void()> block);
  /// Cancels `block`: a run that comes due afterwards does nothing.
  virtual void dispatchCancel(const std::shared_ptr<DozidiDispatchBlock>& block);
  /// Runs `block` once per token; a reset token runs it again.
  virtual void dispatchOnce(dispatch::OnceFlag& token, const std::function<void()>& block);

  const std::shared_ptr<dispatch::DispatchQueue>& queue() const { return queue_; }

 protected:
  explicit DozidiDispatchQueueWrapper(std::string name);

 private:
  std::shared_ptr<dispatch::DispatchQueue> queue_;
};
