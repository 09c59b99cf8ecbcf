#pragma once
// The timers of asyncAfter: one heap for every queue, on the process clock.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace dispatch {
class Clock;
class DispatchQueue;
}

namespace dispatch::detail {

/// Holds asyncAfter blocks until their deadline, then queues them on their queue. Each block keeps
/// the clock that was current when it was scheduled and fires only when that clock reaches its
/// deadline, so a test that swaps clocks never sees another clock's blocks fire early. A thread
/// of its own waits for the real clock's deadlines; a ManualClock's advance() calls fireDue()
/// itself, so its due blocks reach their queue before advance() returns. The main run loop calls
/// fireDue() too.
class TimerService {
 public:
  static TimerService& shared();

  void schedule(Clock& clock, double deadline, std::shared_ptr<DispatchQueue> queue,
                std::function<void()> block);
  /// Queues every block whose deadline has come, in deadline order (ties: scheduling order).
  void fireDue();
  /// Makes the timer thread look at the clock again (the clock was replaced or moved).
  void wake();
  /// Seconds until the earliest block on a clock that does not fire its own timers is due (zero
  /// when one is due already), kForever when there is none. The main run loop sleeps this long.
  double secondsUntilNextRealTimer();

 private:
  struct Timer {
    Clock* clock;  ///< clocks that were ever current live for the whole process
    double deadline;
    std::uint64_t sequence;
    std::shared_ptr<DispatchQueue> queue;
    std::function<void()> block;
  };
  void loop();

  std::mutex firingMutex_;  ///< keeps due blocks in order when two threads fire at once
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Timer> timers_;
  std::uint64_t nextSequence_ = 0;
  bool changed_ = false;
  bool threadStarted_ = false;
};

}  // namespace dispatch::detail
