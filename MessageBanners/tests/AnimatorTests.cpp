#include <gtest/gtest.h>

#include "MessageBanners/SafeZoneConflicts.h"

namespace MessageBanners {
namespace {

using S = SafeZoneConflicts;

TEST(SafeZoneConflictsTests, RemoveAnswersWhatWasPresent) {
  S set{S::topConflict(), S::bottomConflict()};
  EXPECT_EQ(set.rawValue(), 6u);
  EXPECT_EQ(set.remove(S::bottomConflict()), S::bottomConflict());
  EXPECT_EQ(set, S::topConflict());
  EXPECT_EQ(set.remove(S::statusBarCovered()), std::nullopt);
  // Only the part of a mixed argument that was in the set comes back.
  EXPECT_EQ(set.remove(S{S::topConflict(), S::statusBarArea()}), S::topConflict());
  EXPECT_TRUE(set.isEmpty());
}

TEST(SafeZoneConflictsTests, InsertAndUpdateReportPresence) {
  S set;
  auto first = set.insert(S::statusBarCovered());
  EXPECT_TRUE(first.inserted);
  auto again = set.insert(S::statusBarCovered());
  EXPECT_FALSE(again.inserted);
  EXPECT_EQ(again.memberAfterInsert, S::statusBarCovered());
  EXPECT_EQ(set.update(S::topConflict()), std::nullopt);
  EXPECT_EQ(set.update(S::topConflict()), S::topConflict());
  EXPECT_EQ(set.rawValue(), 10u);
}

TEST(SafeZoneConflictsTests, SetAlgebra) {
  S a{S::statusBarArea(), S::topConflict()}, b{S::topConflict(), S::bottomConflict()};
  EXPECT_EQ(a.unionWith(b).rawValue(), 7u);
  EXPECT_EQ(a.intersection(b), S::topConflict());
  EXPECT_EQ(a.symmetricDifference(b).rawValue(), 5u);
  EXPECT_EQ(a.subtracting(b), S::statusBarArea());
  EXPECT_TRUE(S::topConflict().isSubset(a));
  EXPECT_FALSE(a.isSubset(b));
  EXPECT_TRUE(S::statusBarArea().isDisjoint(b));
  EXPECT_TRUE(a.contains(S::topConflict()));
  EXPECT_FALSE(a.contains(b));
}

}  // namespace
}  // namespace MessageBanners
