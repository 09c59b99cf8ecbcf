#include "platform/dispatch/MainRunLoop.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/detail/QueueState.h"
#include "platform/dispatch/detail/TimerService.h"

namespace dispatch {
namespace {

// How often runMainLoopUntil looks at `done` and its time-out while no block arrives: `done` may
// turn true through work on other threads that queues nothing on the main queue.
constexpr auto kPollInterval = std::chrono::milliseconds(1);

pid_t threadId() {
  thread_local const pid_t id = static_cast<pid_t>(::syscall(SYS_gettid));
  return id;
}

// The kernel id of the main thread; by default the initial thread, whose id is the process id.
std::atomic<pid_t>& mainThreadId() {
  static std::atomic<pid_t> id{::getpid()};
  return id;
}

// Runs the first main-queue block, if any; false when there was none.
bool runOneMainBlock() {
  detail::QueueState& state = detail::mainQueueState();
  detail::Block block;
  {
    std::lock_guard lock(state.mutex);
    if (state.blocks.empty()) return false;
    block = std::move(state.blocks.front());
    state.blocks.pop_front();
  }
  detail::CurrentQueueScope scope(&state);
  block();
  return true;
}

}  // namespace

void bindMainThread() { mainThreadId().store(threadId(), std::memory_order_release); }

bool isMainThread() { return threadId() == mainThreadId().load(std::memory_order_acquire); }

bool runMainLoopUntil(const std::function<bool()>& done, double timeoutSeconds) {
  if (!isMainThread()) return done();
  using Steady = std::chrono::steady_clock;
  const bool limited = std::isfinite(timeoutSeconds);
  const auto start = Steady::now();
  const auto limit = std::chrono::duration<double>(limited ? std::max(timeoutSeconds, 0.0) : 0.0);
  detail::QueueState& state = detail::mainQueueState();
  for (;;) {
    if (done()) return true;
    detail::TimerService::shared().fireDue();
    if (runOneMainBlock()) continue;
    if (limited && Steady::now() - start >= limit) return false;
    std::unique_lock lock(state.mutex);
    if (state.blocks.empty()) state.cv.wait_for(lock, kPollInterval);
  }
}

std::size_t drainMainQueue() {
  if (!isMainThread()) return 0;
  detail::TimerService::shared().fireDue();
  std::size_t count = 0;
  while (runOneMainBlock()) ++count;
  return count;
}

}  // namespace dispatch
