#include "TovelCommon/CollectionExtensions.h"

#include <gtest/gtest.h>

#include <limits>
#include <list>
#include <string>

namespace tovel {
namespace {

TEST(CollectionExtensionsTest, SafeAtGivesNoneOutsideTheIndices) {
  const std::vector<std::string> list{"a", "b", "c"};
  struct Case {
    long long index;
    std::optional<std::string> expected;
  };
  const Case cases[] = {{0, "a"}, {2, "c"}, {3, std::nullopt}, {-1, std::nullopt},
                        {std::numeric_limits<long long>::min(), std::nullopt},
                        {std::numeric_limits<long long>::max(), std::nullopt}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(safeAt(list, c.index), c.expected);
  }
  EXPECT_EQ(safeAt(std::list<int>{7, 8}, 1u), 8);
  EXPECT_EQ(safeAt(std::vector<int>{}, 0), std::nullopt);
}

TEST(CollectionExtensionsTest, NilIfEmptyAndConversions) {
  EXPECT_EQ(nilIfEmpty(std::vector<int>{}), std::nullopt);
  EXPECT_EQ(nilIfEmpty(std::vector<int>{5}), std::vector<int>{5});
  EXPECT_EQ(nilIfEmpty(std::string()), std::nullopt);
  EXPECT_EQ(asSet(std::vector<int>{3, 1, 3}), (std::set<int>{1, 3}));
  EXPECT_EQ(asArray(std::set<int>{2, 1}), (std::vector<int>{1, 2}));
}

TEST(CollectionExtensionsTest, ResultValueAndError) {
  const foundation::Result<int> success = 4;
  const foundation::Result<int> failure = foundation::Error("test.domain", 7);
  EXPECT_EQ(resultValue(success), 4);
  EXPECT_FALSE(resultError(success));
  EXPECT_FALSE(resultValue(failure));
  ASSERT_TRUE(resultError(failure));
  EXPECT_EQ(resultError(failure)->code(), 7);
}

}  // namespace
}  // namespace tovel
