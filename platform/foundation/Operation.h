#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace foundation {

class OperationQueue;

/// Which half of a key-value change notification an observer receives.
enum class KeyValueChange : bool { Will, Did };

/// A unit of work (the platform's NSOperation). Operations are shared: create them with
/// std::make_shared or a subclass's create(). A synchronous operation runs main() inside start()
/// and is finished when start() returns. An asynchronous one overrides isAsynchronous(),
/// isExecuting(), isFinished(), start() and cancel(), keeps its own states, and announces each
/// change of "isExecuting" and "isFinished" with willChangeValue()/didChangeValue(); an operation
/// queue frees the operation's slot when it sees "isFinished" turn true.
class Operation : public std::enable_shared_from_this<Operation> {
 public:
  /// Called on the thread that makes the change, with no lock of the operation held.
  using Observer = std::function<void(Operation& operation, const std::string& key, KeyValueChange)>;
  using ObserverToken = std::uint64_t;

  virtual ~Operation();
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  /// Runs the operation on the calling thread: when cancelled it only becomes finished, else it
  /// becomes executing, runs main(), and becomes finished. A second start() does nothing.
  virtual void start();
  /// The work. Does nothing by default.
  virtual void main();
  /// Marks the operation cancelled ("isCancelled" notifications on the first call). Work already
  /// running is not interrupted; main() may poll isCancelled().
  virtual void cancel();

  virtual bool isExecuting() const;
  virtual bool isFinished() const;
  virtual bool isCancelled() const;
  virtual bool isAsynchronous() const;

  /// Observes changes of `key` ("isExecuting", "isFinished", "isCancelled"). Thread-safe; an
  /// observer removed during a notification is not called afterwards.
  ObserverToken addObserver(std::string key, Observer observer);
  void removeObserver(ObserverToken token);

 protected:
  Operation();
  /// Key-value notifications: subclasses call them around every change of a state they keep.
  void willChangeValue(const std::string& key);
  void didChangeValue(const std::string& key);

 private:
  friend class OperationQueue;
  void notify(const std::string& key, KeyValueChange change);

  std::atomic<bool> executing_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> enqueued_{false};

  struct ObserverEntry;
  std::mutex observersMutex_;
  std::vector<std::shared_ptr<ObserverEntry>> observers_;
  ObserverToken nextToken_ = 1;
};

/// An operation that runs one block.
class BlockOperation : public Operation {
 public:
  static std::shared_ptr<BlockOperation> create(std::function<void()> block);
  void main() override;

 protected:
  explicit BlockOperation(std::function<void()> block);

 private:
  std::function<void()> block_;
};

}  // namespace foundation
