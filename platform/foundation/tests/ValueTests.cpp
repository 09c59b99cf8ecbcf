#include "platform/foundation/Value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"

namespace foundation {
namespace {

TEST(ValueTests, ContainersAreCopyOnWrite) {
  Array a{1, 2};
  const Array shared = a;
  a.push_back(3);
  EXPECT_EQ(shared.size(), 2u);
  EXPECT_EQ(a.size(), 3u);

  Dictionary d{{"k", 1}};
  Value outer = Dictionary{{"inner", d}};
  d.set("k", 2);
  EXPECT_EQ(outer["inner"]["k"].asInt64(), 1);
  Value copy = outer;
  copy.mutableDictionary()->findMutable("inner")->mutableDictionary()->set("k", 3);
  EXPECT_EQ(outer["inner"]["k"].asInt64(), 1);
  EXPECT_EQ(copy["inner"]["k"].asInt64(), 3);
}

TEST(ValueTests, CopiesAndMovesOfEveryKind) {
  const Value samples[] = {
      Value(), Null{}, Value(2.5), Value("a string beyond SSO"), Data("d"), Date{3},
      *URL::parse("https://a.org/"), Array{1, "x"}, Dictionary{{"k", 1}},
      Error::cocoa(CocoaError::FileNoSuchFile, "gone"), Opaque{std::make_shared<int>(1), "Thing"},
  };
  for (const Value& sample : samples) {
    SCOPED_TRACE(sample.description());
    Value copy = sample;
    EXPECT_EQ(copy, sample);
    Value moved = std::move(copy);
    EXPECT_EQ(moved, sample);
    EXPECT_TRUE(copy.isAbsent());  // NOLINT(bugprone-use-after-move): the moved-from state is defined
    copy = moved;
    moved = Value("replaced");
    EXPECT_EQ(copy, sample);
    copy = std::move(moved);
    EXPECT_EQ(copy, Value("replaced"));
  }
}

TEST(ValueTests, AssignmentFromAPartOfItselfOrItself) {
  Value v = Dictionary{{"inner", Dictionary{{"name", "a string beyond SSO"}}}};
  v = v["inner"];
  EXPECT_EQ(v, (Dictionary{{"name", "a string beyond SSO"}}));
  v = std::move(*v.mutableDictionary()->findMutable("name"));
  EXPECT_EQ(v, Value("a string beyond SSO"));
  const Value& self = v;
  v = self;
  EXPECT_EQ(v, Value("a string beyond SSO"));
}

TEST(ValueTests, DictionaryKeepsInsertionOrderAndFindsKeysBeyondTheLinearScan) {
  Dictionary d;
  for (int i = 99; i >= 0; --i) d.set("key" + std::to_string(i), i);
  ASSERT_EQ(d.size(), 100u);
  EXPECT_EQ(d.begin()->first, "key99");
  for (int i = 0; i < 100; ++i) EXPECT_EQ(d["key" + std::to_string(i)].asInt64(), i) << i;
  EXPECT_FALSE(d.contains("key100"));

  d.set("key50", "replaced");  // keeps its position
  EXPECT_EQ(d.begin()[49].first, "key50");
  EXPECT_EQ(d["key50"].asString(), "replaced");
  EXPECT_TRUE(d.remove("key98"));
  EXPECT_EQ(d.size(), 99u);
  EXPECT_EQ(d["key97"].asInt64(), 97);  // the index survives a removal
  EXPECT_FALSE(d.contains("key98"));
  d.set("key97", Value());  // an absent value removes the key
  EXPECT_FALSE(d.contains("key97"));

  const Value v = d;
  EXPECT_TRUE(v["missing"].isAbsent());
  EXPECT_TRUE(v[0].isAbsent());
  EXPECT_EQ(v.dictionary()->size(), 98u);  // reading inserted nothing
}

TEST(ValueTests, BoolsAreNeverIntegers) {
  const Value t = true;
  const Value one = 1;
  EXPECT_TRUE(t.isBool());
  EXPECT_FALSE(one.isBool());
  EXPECT_EQ(t.asBool(), true);
  EXPECT_EQ(t.asInt64(), std::nullopt);
  EXPECT_EQ(t.asDouble(), std::nullopt);
  EXPECT_EQ(one.asBool(), std::nullopt);
  EXPECT_EQ(t.number()->int64Value(), 1);  // the platform's reading message converts
  EXPECT_TRUE(Value(2.5).number()->boolValue());
  EXPECT_EQ(t, one);  // the platform's isEqual compares numerically
  EXPECT_EQ(Value(Dictionary{{"b", true}}).valueOr<int>("b", 7), 7);
}

TEST(ValueTests, NumberConversionsAtTheEdges) {
  constexpr auto kInt64Max = std::numeric_limits<std::int64_t>::max();
  constexpr auto kInt64Min = std::numeric_limits<std::int64_t>::min();
  constexpr auto kUInt64Max = std::numeric_limits<std::uint64_t>::max();
  const Number big = Number::fromUInt64(kUInt64Max);
  EXPECT_EQ(big.exactInt64(), std::nullopt);
  EXPECT_EQ(big.exactUInt64(), kUInt64Max);
  EXPECT_EQ(Number::fromInt64(-1).exactUInt64(), std::nullopt);
  EXPECT_EQ(Number::fromDouble(3.0).exactInt64(), 3);
  EXPECT_EQ(Number::fromDouble(3.5).exactInt64(), std::nullopt);
  EXPECT_EQ(Number::fromDouble(9223372036854775808.0).exactInt64(), std::nullopt);
  EXPECT_EQ(Number::fromDouble(-9223372036854775808.0).exactInt64(), kInt64Min);
  EXPECT_EQ(Number::fromDouble(18446744073709551616.0).exactUInt64(), std::nullopt);

  // Reading messages saturate out-of-range doubles and read NaN as 0 instead of undefined casts.
  EXPECT_EQ(Number::fromDouble(1e300).int64Value(), kInt64Max);
  EXPECT_EQ(Number::fromDouble(-1e300).int64Value(), kInt64Min);
  EXPECT_EQ(Number::fromDouble(std::nan("")).int64Value(), 0);
  EXPECT_EQ(Number::fromDouble(-2.9).int64Value(), -2);
  EXPECT_EQ(Number::fromDouble(1e300).uint64Value(), kUInt64Max);
  EXPECT_EQ(Number::fromInt64(300).uint8Value(), 44);

  // Comparison is exact across kinds, also beyond 2^53 where doubles lose integers.
  EXPECT_NE(Number::fromInt64((1LL << 53) + 1), Number::fromDouble(9007199254740992.0));
  EXPECT_EQ(Number::fromUInt64(1ULL << 63), Number::fromDouble(9223372036854775808.0));
  EXPECT_EQ(Number::fromInt64(-1).compare(big), -1);
  EXPECT_EQ(Number::fromDouble(std::nan("")).compare(Number::fromDouble(std::nan(""))), std::nullopt);
  EXPECT_EQ(Number::fromDouble(3.0).stringValue(), "3");
  EXPECT_EQ(Number::fromBool(true).stringValue(), "1");
}

}  // namespace
}  // namespace foundation
