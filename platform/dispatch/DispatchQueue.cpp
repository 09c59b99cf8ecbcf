#include "platform/dispatch/DispatchQueue.h"

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/dispatch/Thread.h"
#include "platform/dispatch/detail/QueueState.h"
#include "platform/dispatch/detail/TimerService.h"

namespace dispatch {
namespace detail {
namespace {

thread_local const QueueState* tCurrentQueue = nullptr;

// The global queue grows while every thread is busy, so blocks that wait on each other (a block
// waiting on a semaphore that a later block signals) do not starve; past this many threads new
// blocks wait for a free one.
constexpr int kMaxGlobalWorkers = 64;

void runSerial(const std::shared_ptr<QueueState>& state) {
  std::unique_lock lock(state->mutex);
  for (;;) {
    state->cv.wait(lock, [&] { return !state->blocks.empty() || state->ownerGone; });
    if (state->blocks.empty()) return;  // the queue is gone and drained
    Block block = std::move(state->blocks.front());
    state->blocks.pop_front();
    lock.unlock();
    {
      CurrentQueueScope scope(state.get());
      block();
      block = nullptr;  // what the block captured is released on this queue, before the next one
    }
    lock.lock();
  }
}

void runConcurrent(QueueState* state) {
  std::unique_lock lock(state->mutex);
  for (;;) {
    ++state->idleWorkers;
    state->cv.wait(lock, [&] { return !state->blocks.empty(); });
    --state->idleWorkers;
    Block block = std::move(state->blocks.front());
    state->blocks.pop_front();
    lock.unlock();
    {
      CurrentQueueScope scope(state);
      block();
      block = nullptr;
    }
    lock.lock();
  }
}

}  // namespace

const QueueState* currentQueue() { return tCurrentQueue; }

CurrentQueueScope::CurrentQueueScope(const QueueState* state) : previous_(tCurrentQueue) {
  tCurrentQueue = state;
}

CurrentQueueScope::~CurrentQueueScope() { tCurrentQueue = previous_; }

QueueState& mainQueueState() {
  static auto* state = new std::shared_ptr<QueueState>(
      std::make_shared<QueueState>(DispatchQueue::Kind::Main, "main-thread"));
  return **state;
}

}  // namespace detail

using detail::QueueState;

DispatchQueue::DispatchQueue(std::shared_ptr<QueueState> state) : state_(std::move(state)) {}

DispatchQueue::~DispatchQueue() {
  if (state_->kind != Kind::Serial) return;
  {
    std::lock_guard lock(state_->mutex);
    state_->ownerGone = true;
  }
  // The worker drains what is left and ends on its own; nobody joins it, so this destructor may
  // run on that very thread (a block holding the last reference).
  state_->cv.notify_all();
}

std::shared_ptr<DispatchQueue> DispatchQueue::main() {
  static auto* queue = new std::shared_ptr<DispatchQueue>(new DispatchQueue(
      std::shared_ptr<QueueState>(std::shared_ptr<QueueState>(), &detail::mainQueueState())));
  return *queue;
}

std::shared_ptr<DispatchQueue> DispatchQueue::global() {
  static auto* queue = new std::shared_ptr<DispatchQueue>(new DispatchQueue(
      std::make_shared<QueueState>(Kind::Concurrent, "global-default")));
  return *queue;
}

std::shared_ptr<DispatchQueue> DispatchQueue::create(std::string label) {
  return std::shared_ptr<DispatchQueue>(
      new DispatchQueue(std::make_shared<QueueState>(Kind::Serial, std::move(label))));
}

void DispatchQueue::async(std::function<void()> block) {
  if (!block) return;
  QueueState& state = *state_;
  std::unique_lock lock(state.mutex);
  state.blocks.push_back(std::move(block));
  switch (state.kind) {
    case Kind::Main:
      break;
    case Kind::Serial:
      if (!state.workerStarted) {
        state.workerStarted = true;
        startThread(state.label, [s = state_] { detail::runSerial(s); }).detach();
      }
      break;
    case Kind::Concurrent:
      if (static_cast<int>(state.blocks.size()) > state.idleWorkers &&
          state.workers < detail::kMaxGlobalWorkers) {
        ++state.workers;
        startThread("dispatch-global", [s = state_.get()] { detail::runConcurrent(s); }).detach();
      }
      break;
  }
  lock.unlock();
  if (state.kind == Kind::Main) {
    wakeMainLoop();
  } else {
    state.cv.notify_one();
  }
}

void DispatchQueue::sync(std::function<void()> block) {
  if (!block) return;
  const bool inline_ = state_->kind == Kind::Concurrent ||
                       (state_->kind == Kind::Main ? isMainThread() : isCurrent());
  if (inline_) {
    detail::CurrentQueueScope scope(state_.get());
    block();
    return;
  }
  struct Done {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
  };
  auto done = std::make_shared<Done>();
  async([done, &block] {
    block();
    {
      std::lock_guard lock(done->mutex);
      done->done = true;
    }
    done->cv.notify_all();
  });
  std::unique_lock lock(done->mutex);
  done->cv.wait(lock, [&] { return done->done; });
}

void DispatchQueue::asyncAfter(double delaySeconds, std::function<void()> block) {
  if (!block) return;
  Clock& clock = Clock::current();
  detail::TimerService::shared().schedule(clock, clock.deadlineAfter(delaySeconds),
                                          shared_from_this(), std::move(block));
}

const std::string& DispatchQueue::label() const { return state_->label; }

DispatchQueue::Kind DispatchQueue::kind() const { return state_->kind; }

bool DispatchQueue::isCurrent() const {
  const QueueState* current = detail::currentQueue();
  if (state_->kind == Kind::Main) {
    return isMainThread() && (current == nullptr || current == state_.get());
  }
  return current == state_.get();
}

}  // namespace dispatch
