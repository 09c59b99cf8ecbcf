#include "platform/dispatch/MainRunLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/detail/QueueState.h"
#include "platform/dispatch/detail/TimerService.h"
#include "platform/foundation/RetryOnInterrupt.h"

namespace dispatch {
namespace {

pid_t threadId() {
  thread_local const pid_t id = static_cast<pid_t>(::syscall(SYS_gettid));
  return id;
}

// The kernel id of the main thread; by default the initial thread, whose id is the process id.
std::atomic<pid_t>& mainThreadId() {
  static std::atomic<pid_t> id{::getpid()};
  return id;
}

// The event descriptor a sleeping main loop polls. Created on first use without a lock or a
// static guard, so a signal handler may be the first to wake the loop.
int wakeDescriptor() {
  static std::atomic<int> descriptor{-1};
  int fd = descriptor.load(std::memory_order_acquire);
  if (fd >= 0) return fd;
  int created = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (created < 0) return -1;
  if (descriptor.compare_exchange_strong(fd, created, std::memory_order_acq_rel)) return created;
  ::close(created);  // another thread was first; `fd` now holds its descriptor
  return fd;
}

// Reads the descriptor's counter back to zero, so that it is readable again only for the next
// wake-up.
void consumeWakeUps(int fd) {
  if (fd < 0) return;
  std::uint64_t count = 0;
  (void)foundation::retryOnInterrupt([&] { return ::read(fd, &count, sizeof count); });
}

// The longest single poll(): a finite wait longer than this is slept in parts.
constexpr double kLongestPollSeconds = 3600.0;

// Sleeps until a wake-up or `seconds` pass (kForever: until a wake-up), and consumes the
// wake-ups that arrived. True when woken, false when the time ran out.
bool sleepForWakeUp(double seconds) {
  const int fd = wakeDescriptor();
  if (fd < 0) {
    // No descriptor to be woken through: nothing could end an endless sleep, so the longest
    // recheck interval bounds every wait.
    seconds = std::min(seconds, kMainLoopLongestRecheckSeconds);
  }
  // Rounded up, so that a deadline 0.4 ms away does not become a busy loop of zero-length polls.
  const int ms = std::isfinite(seconds)
                     ? static_cast<int>(std::clamp(std::ceil(seconds * 1000.0), 0.0, kLongestPollSeconds * 1000.0))
                     : -1;
  if (fd < 0) {
    ::poll(nullptr, 0, ms);
    return false;
  }
  pollfd entry{fd, POLLIN, 0};
  if (::poll(&entry, 1, ms) <= 0) return false;
  consumeWakeUps(fd);
  return true;
}

// The observer of setMainLoopObserver(); read and written on the main thread only.
std::function<void(MainLoopActivity)>& mainLoopObserver() {
  static auto* observer = new std::function<void(MainLoopActivity)>();
  return *observer;
}

void tellObserver(MainLoopActivity activity) {
  if (const auto& observer = mainLoopObserver()) observer(activity);
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

double mainLoopRecheckSeconds(int idleWakeUps) {
  double seconds = kMainLoopRecheckSeconds;
  for (int i = 0; i < idleWakeUps && seconds < kMainLoopLongestRecheckSeconds; ++i) seconds *= 2;
  return std::min(seconds, kMainLoopLongestRecheckSeconds);
}

int mainLoopWakeDescriptor() { return wakeDescriptor(); }

void bindMainThread() { mainThreadId().store(threadId(), std::memory_order_release); }

bool isMainThread() { return threadId() == mainThreadId().load(std::memory_order_acquire); }

void wakeMainLoop() {
  const int fd = wakeDescriptor();
  if (fd < 0) return;
  const std::uint64_t one = 1;
  // A full counter (EAGAIN) already means "wake up"; nothing is lost by dropping this one.
  (void)foundation::retryOnInterrupt([&] { return ::write(fd, &one, sizeof one); });
}

void setMainLoopObserver(std::function<void(MainLoopActivity)> observer) {
  if (isMainThread()) mainLoopObserver() = std::move(observer);
}

bool runMainLoopUntil(const std::function<bool()>& done, double timeoutSeconds, Recheck recheck) {
  if (!isMainThread()) return done();
  using Steady = std::chrono::steady_clock;
  const bool limited = std::isfinite(timeoutSeconds);
  const auto end = Steady::now() + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(
                                        limited ? std::clamp(timeoutSeconds, 0.0, 1e9) : 0.0));
  detail::TimerService& timers = detail::TimerService::shared();
  int idleWakeUps = 0;
  for (;;) {
    if (done()) return true;
    timers.fireDue();
    if (runOneMainBlock()) {
      idleWakeUps = 0;
      continue;
    }
    // A timer scheduled by another thread during the sleep reaches the main queue through the
    // timer thread, which wakes the loop; the deadline here only spares that detour.
    double sleep = timers.secondsUntilNextRealTimer();
    const double recheckAfter = recheck == Recheck::Periodically ? mainLoopRecheckSeconds(idleWakeUps) : kForever;
    sleep = std::min(sleep, recheckAfter);
    if (limited) {
      const double left = std::chrono::duration<double>(end - Steady::now()).count();
      if (left <= 0) return false;
      sleep = std::min(sleep, left);
    }
    // A block queued after the check above has already written to the descriptor, so this
    // returns at once: no wake-up is lost between the check and the sleep. Only a sleep that ran
    // its whole recheck interval counts as idle; a timer's deadline or a wake-up brings work.
    tellObserver(MainLoopActivity::BeforeWaiting);
    const bool woken = sleepForWakeUp(sleep);
    tellObserver(MainLoopActivity::AfterWaiting);
    idleWakeUps = (!woken && sleep >= recheckAfter) ? idleWakeUps + 1 : 0;
  }
}

std::size_t drainMainQueue() {
  if (!isMainThread()) return 0;
  // Consumed before the blocks run: a block queued while they run writes to it again. A block
  // that throws leaves the ones behind it queued; the loop is woken again so that they run.
  consumeWakeUps(wakeDescriptor());
  struct WakeAgainOnThrow {
    int exceptions = std::uncaught_exceptions();
    ~WakeAgainOnThrow() {
      if (std::uncaught_exceptions() > exceptions) wakeMainLoop();
    }
  } wakeAgainOnThrow;
  detail::TimerService::shared().fireDue();
  std::size_t count = 0;
  while (runOneMainBlock()) ++count;
  return count;
}

}  // namespace dispatch
