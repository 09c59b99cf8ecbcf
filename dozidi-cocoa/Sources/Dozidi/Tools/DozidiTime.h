#pragma once
#include <cstdint>

/// Monotonic nanoseconds of the reporter's clock (the process clock's uptime, the one injectable
/// clock), which does not follow changes of the wall clock. Every profiler, frame and display-link
/// timestamp is taken on this clock.
std::uint64_t getAbsoluteTime();

/// `endTimestamp - startTimestamp`; 0 when the end lies before the start, so that a reversed pair
/// never wraps round to an enormous duration.
std::uint64_t getDurationNs(std::uint64_t startTimestamp, std::uint64_t endTimestamp);
