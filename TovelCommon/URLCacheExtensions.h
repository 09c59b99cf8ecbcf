#pragma once
#include <cstdint>

namespace tovel {

/// The memory capacity setUpSharedURLCache uses when given none: 10 MiB.
inline constexpr std::int64_t kDefaultSharedURLCacheMemoryCapacity = 10'485'760;

/// Makes a new URL cache the platform's shared one: `memoryCapacity` bytes of memory, ten times as
/// many on disk, no disk path. A disk capacity that would not fit in 64 bits is the largest that
/// does (negative capacities, which keep nothing, saturate the other way). Any thread.
void setUpSharedURLCache(std::int64_t memoryCapacity = kDefaultSharedURLCacheMemoryCapacity);

}  // namespace tovel
