#pragma once
#include <cstdint>

/// Nanoseconds of the monotonic clock, which stands still while the machine sleeps. Every
/// profiler and frame timestamp is taken on this clock.
std::uint64_t getAbsoluteTime();

/// `endTimestamp - startTimestamp`. An end before its start is a programming error: debug builds
/// stop at the assertion "endTimestamp >= startTimestamp", release builds answer 0 rather than a
/// duration of centuries.
std::uint64_t getDurationNs(std::uint64_t startTimestamp, std::uint64_t endTimestamp);
