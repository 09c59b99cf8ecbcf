#pragma once
#include <atomic>
#include <functional>
#include <memory>

#include "platform/foundation/Operation.h"
#include "platform/foundation/OperationQueue.h"

namespace dispatch {
class DispatchQueue;
}

namespace tovel {

/// An operation whose work ends after main() returns. It keeps its own executing and finished
/// states and announces their changes as "isExecuting" and "isFinished", which is how an
/// operation queue learns that the slot is free: on a queue limited to one operation at a time
/// these operations run one after another, each starting when the previous one has finished.
///
/// "isExecuting" is announced on every change. "isFinished" is announced only once the operation
/// has started, so one cancelled before it starts becomes finished silently; the queue notices it
/// when start() returns at once, and it never holds up the operations behind it.
///
/// Announcements are made on the thread that makes the change. The states are atomics, because a
/// subclass may finish on another thread than the one that started it.
class FinishingOperation : public foundation::Operation {
 public:
  bool isAsynchronous() const override { return true; }
  bool isExecuting() const override { return executing_; }
  bool isFinished() const override { return finished_; }

  /// Returns at once when cancelled (main() is never called); otherwise becomes executing and
  /// runs main() on the calling thread. Only the first start runs the operation.
  void start() override;
  /// Becomes not executing and finished, then marks the operation cancelled. Work already under
  /// way is not interrupted.
  void cancel() override;

 protected:
  FinishingOperation() = default;
  /// Ends the operation: executing becomes false, then finished becomes true. Subclasses call it
  /// when their work is over; a second call announces nothing.
  void finish();
  void setExecuting(bool executing);
  void setFinished(bool finished);

 private:
  std::atomic<bool> startCalled_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> executing_{false};
};

/// Runs a block on a dispatch queue and finishes when the block calls the finish closure it is
/// given. The posted block and the finish closure hold the operation weakly: an operation released
/// before its block runs does nothing, and a finish closure called after that does nothing.
class DispatchingFinishingOperation : public FinishingOperation {
 public:
  /// Receives the finish closure; may call it on any thread, at any later time.
  using Block = std::function<void(std::function<void()> finish)>;

  static std::shared_ptr<DispatchingFinishingOperation> create(std::shared_ptr<dispatch::DispatchQueue> queue,
                                                               Block block);
  void main() override;

 protected:
  DispatchingFinishingOperation(std::shared_ptr<dispatch::DispatchQueue> queue, Block block);

 private:
  const std::shared_ptr<dispatch::DispatchQueue> queue_;
  const Block block_;
};

/// A new operation queue running at most `maxConcurrentOperationCount` operations at once (1: one
/// after another).
std::shared_ptr<foundation::OperationQueue> makeOperationQueue(long maxConcurrentOperationCount);

}  // namespace tovel
