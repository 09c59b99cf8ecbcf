#include "platform/dispatch/detail/TimerService.h"

#include <algorithm>
#include <cmath>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/Thread.h"

namespace dispatch::detail {
namespace {

// A manual clock fires its own timers when it advances; nothing needs to wait for it.
bool firesItsOwnTimers(const Clock* clock) { return dynamic_cast<const ManualClock*>(clock); }

}  // namespace

TimerService& TimerService::shared() {
  // Never destroyed: its thread may still be waiting when the process exits.
  static auto* service = new TimerService();
  return *service;
}

void TimerService::schedule(Clock& clock, double deadline, std::shared_ptr<DispatchQueue> queue,
                            std::function<void()> block) {
  if (std::isinf(deadline)) return;  // never due: nothing to keep
  {
    std::lock_guard lock(mutex_);
    timers_.push_back(Timer{&clock, deadline, nextSequence_++, std::move(queue), std::move(block)});
    changed_ = true;
    if (!threadStarted_) {
      threadStarted_ = true;
      startThread("dispatch-timers", [this] { loop(); }).detach();
    }
  }
  cv_.notify_all();
}

void TimerService::fireDue() {
  std::lock_guard firing(firingMutex_);
  std::vector<Timer> due;
  {
    std::lock_guard lock(mutex_);
    auto isDue = [](const Timer& timer) { return timer.clock->uptime() >= timer.deadline; };
    auto firstKept = std::stable_partition(timers_.begin(), timers_.end(), isDue);
    due.assign(std::make_move_iterator(timers_.begin()), std::make_move_iterator(firstKept));
    timers_.erase(timers_.begin(), firstKept);
  }
  std::stable_sort(due.begin(), due.end(), [](const Timer& a, const Timer& b) {
    return a.deadline != b.deadline ? a.deadline < b.deadline : a.sequence < b.sequence;
  });
  for (Timer& timer : due) timer.queue->async(std::move(timer.block));
}

void TimerService::wake() {
  {
    std::lock_guard lock(mutex_);
    changed_ = true;
  }
  cv_.notify_all();
}

double TimerService::secondsUntilNextRealTimer() {
  std::lock_guard lock(mutex_);
  double soonest = kForever;
  for (const Timer& timer : timers_) {
    if (firesItsOwnTimers(timer.clock)) continue;
    soonest = std::min(soonest, std::max(0.0, timer.deadline - timer.clock->uptime()));
  }
  return soonest;
}

void TimerService::loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_ = false;
    const Timer* earliest = nullptr;
    for (const Timer& timer : timers_) {
      if (firesItsOwnTimers(timer.clock)) continue;
      if (!earliest || timer.deadline < earliest->deadline) earliest = &timer;
    }
    if (!earliest) {
      cv_.wait(lock, [this] { return changed_; });
      continue;
    }
    Clock* clock = earliest->clock;
    const double deadline = earliest->deadline;
    const bool changed = clock->waitUntil(cv_, lock, deadline, [this] { return changed_; });
    if (changed) continue;
    lock.unlock();
    fireDue();
    lock.lock();
  }
}

}  // namespace dispatch::detail
