#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiTime.h"

#include <cmath>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"

std::uint64_t getAbsoluteTime() {
  const double seconds = DozidiCurrentDate::dispatchTimeNow();
  if (!(seconds > 0)) return 0;
  return static_cast<std::uint64_t>(std::llround(seconds * 1e9));
}

std::uint64_t getDurationNs(std::uint64_t startTimestamp, std::uint64_t endTimestamp) {
  return endTimestamp >= startTimestamp ? endTimestamp - startTimestamp : 0;
}
