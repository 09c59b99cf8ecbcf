#include "TovelCommon/URLCacheExtensions.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/foundation/URLCache.h"

namespace tovel {
namespace {

TEST(SetUpSharedURLCacheTest, GivesTheSharedCacheTenTimesTheMemoryOnDiskAndNoPath) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  struct Case {
    const char* name;
    std::int64_t memory;
    std::int64_t expectedMemory;
    std::int64_t expectedDisk;
  };
  const Case cases[] = {
      {"default", kDefaultSharedURLCacheMemoryCapacity, 10'485'760, 104'857'600},
      {"small", 1000, 1000, 10'000},
      {"tenfold overflows", kMax / 2, kMax / 2, kMax},
      {"negative keeps nothing", -1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto before = foundation::URLCache::shared();
    setUpSharedURLCache(c.memory);
    auto cache = foundation::URLCache::shared();
    EXPECT_NE(cache, before);
    EXPECT_EQ(cache->memoryCapacity(), c.expectedMemory);
    EXPECT_EQ(cache->diskCapacity(), c.expectedDisk);
    EXPECT_FALSE(cache->diskPath());
  }

  setUpSharedURLCache();
  EXPECT_EQ(foundation::URLCache::shared()->memoryCapacity(), 10'485'760);
}

}  // namespace
}  // namespace tovel
