#pragma once
#include <cstdint>

#include "platform/foundation/Date.h"

/// How the app was started.
enum class DozidiAppStartType : std::int64_t { Warm = 0, Cold = 1, Unknown = 2 };

/// How long the app took to start and the dates the start passed through. An immutable value,
/// made once per process by the app-start tracker and turned into spans by the first "ui.load"
/// transaction.
struct DozidiAppStartMeasurement {
  DozidiAppStartType type = DozidiAppStartType::Unknown;
  bool isPreWarmed = false;
  /// Process start, or module initialization when the system prewarmed the process.
  foundation::Date appStartTimestamp;
  /// Seconds from `appStartTimestamp` to the first visible window.
  double duration = 0;
  foundation::Date runtimeInitTimestamp;
  /// 1970-01-01 when the measurement was made without one.
  foundation::Date moduleInitializationTimestamp = foundation::Date::fromTimeIntervalSince1970(0);
  foundation::Date didFinishLaunchingTimestamp;

  /// The designated form: every field given.
  static DozidiAppStartMeasurement initWithType(DozidiAppStartType type, bool isPreWarmed,
                                                foundation::Date appStartTimestamp, double duration,
                                                foundation::Date runtimeInitTimestamp,
                                                foundation::Date moduleInitializationTimestamp,
                                                foundation::Date didFinishLaunchingTimestamp) {
    return {type,     isPreWarmed,          appStartTimestamp,           duration,
            runtimeInitTimestamp, moduleInitializationTimestamp, didFinishLaunchingTimestamp};
  }
  /// Not prewarmed, module initialization at 1970-01-01.
  static DozidiAppStartMeasurement initWithType(DozidiAppStartType type, foundation::Date appStartTimestamp,
                                                double duration, foundation::Date runtimeInitTimestamp,
                                                foundation::Date didFinishLaunchingTimestamp) {
    return initWithType(type, false, appStartTimestamp, duration, runtimeInitTimestamp,
                        foundation::Date::fromTimeIntervalSince1970(0), didFinishLaunchingTimestamp);
  }
};
