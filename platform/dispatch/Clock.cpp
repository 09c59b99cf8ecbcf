#include "platform/dispatch/Clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/dispatch/detail/TimerService.h"

namespace dispatch {
namespace {

// A ManualClock waiter can miss a wake-up that lands between its check of the time and its wait;
// it looks again after this much real time, so such a miss costs at most this delay.
constexpr auto kManualRecheck = std::chrono::milliseconds(2);

// A RealClock waiter sleeps at most this long at once, so huge deadlines never overflow the
// conversion to the steady clock.
constexpr double kLongestRealWait = 3600.0;

std::atomic<Clock*>& currentClock() {
  static std::atomic<Clock*> clock{nullptr};
  return clock;
}

Clock& realClock() {
  static auto* clock = new RealClock();
  return *clock;
}

}  // namespace

double Clock::deadlineAfter(double seconds) const {
  if (std::isnan(seconds) || seconds < 0) seconds = 0;
  if (std::isinf(seconds)) return kForever;
  return uptime() + seconds;
}

Clock& Clock::current() {
  Clock* clock = currentClock().load(std::memory_order_acquire);
  return clock ? *clock : realClock();
}

void Clock::setCurrent(std::shared_ptr<Clock> clock) {
  // Retired clocks are kept so that a reference from current() held by another thread stays valid.
  static auto* keptAlive = new std::vector<std::shared_ptr<Clock>>();
  static auto* keptMutex = new std::mutex();
  {
    std::lock_guard lock(*keptMutex);
    if (clock) keptAlive->push_back(clock);
    currentClock().store(clock.get(), std::memory_order_release);
  }
  detail::TimerService::shared().wake();
}

double RealClock::uptime() const {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double RealClock::wallTime() const {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

bool RealClock::waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                          double deadline, const std::function<bool()>& ready) {
  if (std::isinf(deadline)) {
    cv.wait(lock, ready);
    return true;
  }
  for (;;) {
    if (ready()) return true;
    const double remaining = deadline - uptime();
    if (!(remaining > 0)) return false;
    cv.wait_for(lock, std::chrono::duration<double>(std::min(remaining, kLongestRealWait)));
  }
}

ManualClock::ManualClock(double uptime, double wallTime) : uptime_(uptime), wallTime_(wallTime) {}

std::shared_ptr<ManualClock> ManualClock::create(double uptime, double wallTime) {
  return std::make_shared<ManualClock>(uptime, wallTime);
}

double ManualClock::uptime() const {
  std::lock_guard lock(mutex_);
  return uptime_;
}

double ManualClock::wallTime() const {
  std::lock_guard lock(mutex_);
  return wallTime_;
}

bool ManualClock::waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                            double deadline, const std::function<bool()>& ready) {
  if (std::isinf(deadline)) {
    cv.wait(lock, ready);
    return true;
  }
  {
    std::lock_guard clockLock(mutex_);
    waiters_.push_back(&cv);
  }
  bool result = false;
  for (;;) {
    if (ready()) {
      result = true;
      break;
    }
    if (uptime() >= deadline) break;
    cv.wait_for(lock, kManualRecheck);
  }
  std::lock_guard clockLock(mutex_);
  waiters_.erase(std::find(waiters_.begin(), waiters_.end(), &cv));
  return result;
}

void ManualClock::advance(double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0) return;
  {
    std::lock_guard lock(mutex_);
    uptime_ += seconds;
    wallTime_ += seconds;
    // A waiter unregisters under this lock before its condition variable can go away.
    for (std::condition_variable* cv : waiters_) cv->notify_all();
  }
  detail::TimerService::shared().fireDue();
  // A main loop waiting for a condition on this clock looks at it again.
  wakeMainLoop();
}

std::size_t ManualClock::waiterCount() const {
  std::lock_guard lock(mutex_);
  return waiters_.size();
}

void ManualClock::setWallTime(double secondsSince1970) {
  std::lock_guard lock(mutex_);
  wallTime_ = secondsSince1970;
}

}  // namespace dispatch
