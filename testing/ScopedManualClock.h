#pragma once
// Test support: the manual clock installed for the life of one object.

#include <memory>

#include "platform/dispatch/Clock.h"

namespace testing_support {

/// Installs a manual clock as the process clock; puts the real clock back when destroyed.
class ScopedManualClock {
 public:
  ScopedManualClock() : clock_(dispatch::ManualClock::create()) { dispatch::Clock::setCurrent(clock_); }
  ~ScopedManualClock() { dispatch::Clock::setCurrent(nullptr); }
  ScopedManualClock(const ScopedManualClock&) = delete;
  ScopedManualClock& operator=(const ScopedManualClock&) = delete;

  dispatch::ManualClock& operator*() const { return *clock_; }
  dispatch::ManualClock* operator->() const { return clock_.get(); }

 private:
  std::shared_ptr<dispatch::ManualClock> clock_;
};

}  // namespace testing_support
