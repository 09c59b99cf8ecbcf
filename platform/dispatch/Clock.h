#pragma once
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

namespace dispatch {

/// A deadline or time-out that never comes.
inline constexpr double kForever = std::numeric_limits<double>::infinity();

/// The one source of time of the process. Every delay, time-out and timestamp reads the current
/// clock, so tests swap in a ManualClock and move time forward instead of sleeping.
class Clock {
 public:
  virtual ~Clock() = default;

  /// Monotonic seconds since an arbitrary start; never goes back.
  virtual double uptime() const = 0;
  /// Seconds since 1970-01-01 00:00:00 UTC.
  virtual double wallTime() const = 0;

  /// Blocks on `cv`, whose mutex `lock` holds, until `ready()` is true or uptime() reaches
  /// `deadline`. Returns true when ready() held, false on time-out. `ready` is called with the
  /// lock held. An infinite deadline waits for ready() alone. Whoever makes ready() true notifies
  /// `cv` as for any condition-variable wait; a ManualClock wakes its waiters when it advances.
  virtual bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                         double deadline, const std::function<bool()>& ready) = 0;

  /// The uptime `seconds` from now. NaN and negative delays count as zero; an infinite delay
  /// gives kForever.
  double deadlineAfter(double seconds) const;

  /// The process clock: the real clock unless a test set another. Thread-safe.
  static Clock& current();
  /// Replaces the process clock; nullptr restores the real clock. Clocks set earlier stay alive
  /// for the rest of the process, so references handed out by current() never dangle.
  static void setCurrent(std::shared_ptr<Clock> clock);
};

/// Steady time for uptime(), the system clock for wallTime().
class RealClock final : public Clock {
 public:
  double uptime() const override;
  double wallTime() const override;
  bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, double deadline,
                 const std::function<bool()>& ready) override;
};

/// A clock that moves only when told. advance() wakes timed waits on this clock and hands every
/// asyncAfter block that has become due to its queue before it returns.
class ManualClock final : public Clock {
 public:
  /// Default wall time: 2023-11-14 22:13:20 UTC.
  static constexpr double kDefaultWallTime = 1'700'000'000.0;

  explicit ManualClock(double uptime = 0.0, double wallTime = kDefaultWallTime);
  static std::shared_ptr<ManualClock> create(double uptime = 0.0, double wallTime = kDefaultWallTime);

  double uptime() const override;
  double wallTime() const override;
  bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, double deadline,
                 const std::function<bool()>& ready) override;

  /// Moves uptime and wall time forward by `seconds` (NaN, infinite and negative amounts are
  /// ignored: the uptime never goes back), then fires what became due.
  void advance(double seconds);
  /// Sets the wall time alone (the uptime is unchanged).
  void setWallTime(double secondsSince1970);
  /// How many timed waits are in progress on this clock. Tests wait for a waiter to be waiting
  /// before they advance past its deadline.
  std::size_t waiterCount() const;

 private:
  mutable std::mutex mutex_;
  double uptime_;
  double wallTime_;
  std::vector<std::condition_variable*> waiters_;
};

}  // namespace dispatch
