#pragma once
#include <mutex>

#include "platform/foundation/Operation.h"

/// Base of operations whose work ends after main() returns (an HTTP upload ends in its completion
/// handler). It keeps its own executing, finished and cancelled flags, each read and written under
/// the operation's lock, and announces changes as "isExecuting", "isFinished" and "isCancelled",
/// outside the lock. An operation queue frees the slot when it sees "isFinished" turn true, once,
/// however often it is announced. Subclasses override main() and call completeOperation() when
/// the work has ended, on any thread.
class DozidiAsynchronousOperation : public foundation::Operation {
 public:
  /// A cancelled operation only becomes finished; otherwise it becomes executing and main() runs.
  void start() override;
  /// Executing off, then finished on, then cancelled on.
  void cancel() override;
  /// Executing off, then finished on.
  void completeOperation();

  bool isAsynchronous() const override { return true; }
  bool isExecuting() const override;
  bool isFinished() const override;
  bool isCancelled() const override;

  /// These announce only a change.
  void setExecuting(bool executing);
  void setCancelled(bool cancelled);
  /// This announces "isFinished" on every call, also when the value stays the same.
  void setFinished(bool finished);

 protected:
  DozidiAsynchronousOperation() = default;

 private:
  mutable std::mutex lock_;
  bool executing_ = false;
  bool finished_ = false;
  bool cancelled_ = false;
};
