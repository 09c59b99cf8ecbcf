#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiSysctl.h"

#include <time.h>

#include <cerrno>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashSysCtl.h"

namespace {

foundation::Date wallClockNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return foundation::Date::fromTimeIntervalSince1970(static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9);
}

// The runtime mark runs before every ordinary initializer of this library, the module mark among
// them, so the first is never later than the second.
foundation::Date gRuntimeInit;
foundation::Date gModuleInit;

__attribute__((constructor(101))) void markRuntimeInit() { gRuntimeInit = wallClockNow(); }

struct ModuleInitMark {
  ModuleInitMark() { gModuleInit = wallClockNow(); }
} gModuleInitMark;

}  // namespace

foundation::Date DozidiSysctl::runtimeInitTimestamp() const { return gRuntimeInit; }

foundation::Date DozidiSysctl::moduleInitializationTimestamp() const { return gModuleInit; }

foundation::Date DozidiSysctl::processStartTimestamp() const {
  return dateFromTimeval(dozidicrashsysctl_currentProcessStartTime());
}

foundation::Date DozidiSysctl::systemBootTimestamp() const {
  return dateFromTimeval(dozidicrashsysctl_timeval(kDozidiCrashCtlKern, kDozidiCrashKernBoottime));
}

foundation::Date DozidiSysctl::dateFromTimeval(const timeval& value) {
  return foundation::Date::fromTimeIntervalSince1970(static_cast<double>(value.tv_sec) + value.tv_usec / 1e6);
}

void DozidiThreadWrapper::sleepForTimeInterval(double seconds) {
  if (!(seconds > 0)) return;
  timespec rest{static_cast<time_t>(seconds), static_cast<long>((seconds - static_cast<double>(static_cast<time_t>(seconds))) * 1e9)};
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}
