#include "dozidi-cocoa/Sources/Dozidi/DozidiTime.h"

#include <time.h>

#include <cassert>

std::uint64_t getAbsoluteTime() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
}

std::uint64_t getDurationNs(std::uint64_t startTimestamp, std::uint64_t endTimestamp) {
  assert(endTimestamp >= startTimestamp && "endTimestamp >= startTimestamp");
  if (endTimestamp < startTimestamp) return 0;
  return endTimestamp - startTimestamp;
}
