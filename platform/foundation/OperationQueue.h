#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Operation.h"

namespace dispatch {
class DispatchQueue;
}

namespace foundation {

/// Runs operations in the order they were added, at most maxConcurrentOperationCount at a time, on
/// the global dispatch queue (the main operation queue: on the main queue, one at a time). An
/// operation holds its slot until it is finished: a synchronous one when start() returns, an
/// asynchronous one when it announces "isFinished" as true, or when start() returns and it already
/// is finished (an operation cancelled before it started finishes without announcing it). Each
/// operation frees its slot once, however often it announces the change. A queue with operations
/// stays alive until they have all finished.
class OperationQueue : public std::enable_shared_from_this<OperationQueue> {
 public:
  /// No limit on the number of operations running at once.
  static constexpr long kDefaultMaxConcurrentOperationCount = -1;

  static std::shared_ptr<OperationQueue> create();
  /// The operation queue of the main queue, named "NSOperationQueue Main Queue".
  static std::shared_ptr<OperationQueue> main();

  ~OperationQueue();
  OperationQueue(const OperationQueue&) = delete;
  OperationQueue& operator=(const OperationQueue&) = delete;

  void setName(std::string name);
  std::string name() const;
  /// Zero and values below -1 count as 1; -1 means no limit. The main operation queue stays at 1.
  void setMaxConcurrentOperationCount(long count);
  long maxConcurrentOperationCount() const;

  /// Adds `operation` to the queue. Refused (false) for a null operation and for one that is
  /// already in a queue, executing or finished.
  bool addOperation(std::shared_ptr<Operation> operation);
  void addOperationWithBlock(std::function<void()> block);

  /// Operations added and not yet finished, the running ones included.
  std::size_t operationCount() const;
  /// Blocks until operationCount() is zero. On the main thread, for the main operation queue, it
  /// pumps the main run loop instead of blocking it.
  void waitUntilAllOperationsAreFinished();
  /// Cancels every operation in the queue; the waiting ones are then started and finish at once.
  void cancelAllOperations();

  /// True on a thread running one of this queue's operations.
  bool isCurrent() const;

 private:
  struct Entry;
  explicit OperationQueue(std::shared_ptr<dispatch::DispatchQueue> target, long maxCount);
  void startWaitingOperations();
  void run(const std::shared_ptr<Entry>& entry);
  void operationDidFinish(const std::shared_ptr<Entry>& entry);

  std::shared_ptr<dispatch::DispatchQueue> target_;
  bool isMain_ = false;
  mutable std::mutex mutex_;
  std::condition_variable allFinished_;
  std::string name_;
  long maxCount_;
  std::deque<std::shared_ptr<Entry>> waiting_;
  std::vector<std::shared_ptr<Entry>> running_;
  /// Keeps the queue alive while it has operations.
  std::shared_ptr<OperationQueue> selfWhileBusy_;
};

}  // namespace foundation
