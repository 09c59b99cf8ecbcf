#pragma once
#include <cstdint>

/// Monotonic nanoseconds of the reporter's clock (the process clock's uptime), which does not
/// follow changes of the wall clock. Display-link timestamps are on the same clock, in seconds.
std::uint64_t getAbsoluteTime();

/// `endTimestamp - startTimestamp`; 0 when the end lies before the start, so that a reversed pair
/// never wraps round to an enormous duration.
std::uint64_t getDurationNs(std::uint64_t startTimestamp, std::uint64_t endTimestamp);
