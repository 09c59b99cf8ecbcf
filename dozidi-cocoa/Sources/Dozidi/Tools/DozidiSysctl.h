#pragma once
#include <sys/time.h>

#include "platform/foundation/Date.h"

/// The process's and the machine's time marks. Instances carry no state; the two dates captured
/// while the library loads are process-wide.
class DozidiSysctl {
 public:
  virtual ~DozidiSysctl() = default;
  /// Taken by the library's first initializer, before any of its other initializers ran.
  virtual foundation::Date runtimeInitTimestamp() const;
  /// Taken by one of the library's ordinary initializers, before main.
  virtual foundation::Date moduleInitializationTimestamp() const;
  /// When the kernel started this process, to a clock tick; the 1970 epoch when it cannot be read
  /// (the recorder's log says why).
  virtual foundation::Date processStartTimestamp() const;
  /// The kernel's boot time: the same date at every call and in every process of one boot; the
  /// 1970 epoch when it cannot be read.
  virtual foundation::Date systemBootTimestamp() const;

  /// Seconds plus microseconds since 1970 as a date.
  static foundation::Date dateFromTimeval(const timeval& value);
};

/// Makes the calling thread sleep; tests of the hang detector replace it.
class DozidiThreadWrapper {
 public:
  virtual ~DozidiThreadWrapper() = default;
  virtual void sleepForTimeInterval(double seconds);
};
