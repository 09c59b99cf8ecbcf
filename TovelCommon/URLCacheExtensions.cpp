#include "TovelCommon/URLCacheExtensions.h"

#include <limits>

#include "platform/foundation/URLCache.h"

namespace tovel {

namespace {

constexpr std::int64_t kDiskToMemoryRatio = 10;

/// Ten times `capacity`, clamped to the 64-bit range instead of overflowing.
std::int64_t tenfoldSaturated(std::int64_t capacity) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  if (capacity > kMax / kDiskToMemoryRatio) return kMax;
  if (capacity < kMin / kDiskToMemoryRatio) return kMin;
  return capacity * kDiskToMemoryRatio;
}

}  // namespace

void setUpSharedURLCache(std::int64_t memoryCapacity) {
  foundation::URLCache::setShared(
      foundation::URLCache::create(memoryCapacity, tenfoldSaturated(memoryCapacity), std::nullopt));
}

}  // namespace tovel
