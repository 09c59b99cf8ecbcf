#pragma once
// Shared state of a dispatch queue, used by the queue, the main run loop and the timers.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "platform/dispatch/DispatchQueue.h"

namespace dispatch::detail {

using Block = std::function<void()>;

/// Lives as long as the queue object or any thread still draining it.
struct QueueState {
  QueueState(DispatchQueue::Kind kind, std::string label) : kind(kind), label(std::move(label)) {}

  const DispatchQueue::Kind kind;
  const std::string label;

  std::mutex mutex;
  std::condition_variable cv;
  std::deque<Block> blocks;
  bool workerStarted = false;  ///< serial: its thread exists
  bool ownerGone = false;      ///< serial: the queue object is gone; the thread ends once drained
  int workers = 0;             ///< concurrent: threads in the pool
  int idleWorkers = 0;         ///< concurrent: threads waiting for a block
};

/// The state of the queue whose block runs on this thread (the innermost one), or nullptr.
const QueueState* currentQueue();

/// Marks `state` as the current queue of this thread for its lifetime.
class CurrentQueueScope {
 public:
  explicit CurrentQueueScope(const QueueState* state);
  ~CurrentQueueScope();
  CurrentQueueScope(const CurrentQueueScope&) = delete;
  CurrentQueueScope& operator=(const CurrentQueueScope&) = delete;

 private:
  const QueueState* previous_;
};

/// The main queue's state (process-wide, never destroyed).
QueueState& mainQueueState();

}  // namespace dispatch::detail
