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
  constexpr auto kInt64Min = std::numeric_limits<std::int64_t>::min();
  constexpr auto kUInt64Max = std::numeric_limits<std::uint64_t>::max();
  const struct {
    const char* name;
    Number number;
    std::optional<std::int64_t> exactInt64;
    std::optional<std::uint64_t> exactUInt64;
  } exact[] = {
      {"largest unsigned", Number::fromUInt64(kUInt64Max), std::nullopt, kUInt64Max},
      {"minus one", Number::fromInt64(-1), -1, std::nullopt},
      {"whole double", Number::fromDouble(3.0), 3, 3},
      {"fraction", Number::fromDouble(3.5), std::nullopt, std::nullopt},
      {"2^63 as a double", Number::fromDouble(9223372036854775808.0), std::nullopt, 1ULL << 63},
      {"-2^63 as a double", Number::fromDouble(-9223372036854775808.0), kInt64Min, std::nullopt},
      {"2^64 as a double", Number::fromDouble(18446744073709551616.0), std::nullopt, std::nullopt},
  };
  for (const auto& c : exact) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.number.exactInt64(), c.exactInt64);
    EXPECT_EQ(c.number.exactUInt64(), c.exactUInt64);
  }

  // Integers read at another width wrap, as the platform's numbers do.
  EXPECT_EQ(Number::fromInt64(300).uint8Value(), 44);
  EXPECT_EQ(Number::fromInt64(-1).uint64Value(), kUInt64Max);
  EXPECT_EQ(Number::fromUInt64(kUInt64Max).int8Value(), -1);

  // Comparison is exact across kinds, also beyond 2^53 where doubles lose integers.
  const struct {
    const char* name;
    Number left;
    Number right;
    std::optional<int> order;
  } comparisons[] = {
      {"2^53 + 1 against 2^53", Number::fromInt64((1LL << 53) + 1), Number::fromDouble(9007199254740992.0), 1},
      {"2^63 in both kinds", Number::fromUInt64(1ULL << 63), Number::fromDouble(9223372036854775808.0), 0},
      {"signed against unsigned", Number::fromInt64(-1), Number::fromUInt64(kUInt64Max), -1},
      {"NaN", Number::fromDouble(std::nan("")), Number::fromDouble(std::nan("")), std::nullopt},
  };
  for (const auto& c : comparisons) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.left.compare(c.right), c.order);
    EXPECT_EQ(c.left == c.right, c.order == 0);
  }
  EXPECT_EQ(Number::fromDouble(3.0).stringValue(), "3");
  EXPECT_EQ(Number::fromBool(true).stringValue(), "1");
}

TEST(ValueTests, ReferencesBoundToLookupsIntoTemporariesStayValid) {
  // Each temporary is gone when its statement ends; the reference must hold a value of its own.
  const std::string text(64, 'x');
  const Value& byKey = Value(Dictionary{{"k", Array{text}}})["k"];
  const Value& byIndex = Value(Array{Array{text}})[0][0];
  const Value& fromDictionary = Dictionary{{"k", text}}["k"];
  const Value& fromArray = Array{text}[0];
  EXPECT_EQ(byKey, Value(Array{text}));
  EXPECT_EQ(byIndex, Value(text));
  EXPECT_EQ(fromDictionary, Value(text));
  EXPECT_EQ(fromArray, Value(text));
}

TEST(ValueTests, FloatingNumbersReadAsIntegersTruncateAndSaturateAtEachWidth) {
  using L64 = std::numeric_limits<std::int64_t>;
  using U64 = std::numeric_limits<std::uint64_t>;
  using L32 = std::numeric_limits<std::int32_t>;
  using U32 = std::numeric_limits<std::uint32_t>;
  using L16 = std::numeric_limits<std::int16_t>;
  using U16 = std::numeric_limits<std::uint16_t>;
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* name;
    double input;
    std::int64_t i64;
    std::uint64_t u64;
    std::int32_t i32;
    std::uint32_t u32;
    std::int16_t i16;
    std::uint16_t u16;
    std::int8_t i8;
    std::uint8_t u8;
  } cases[] = {
      {"huge negative", -1e300, L64::min(), 0, L32::min(), 0, L16::min(), 0, -128, 0},
      {"huge positive", 1e300, L64::max(), U64::max(), L32::max(), U32::max(), L16::max(), U16::max(), 127, 255},
      {"minus infinity", -inf, L64::min(), 0, L32::min(), 0, L16::min(), 0, -128, 0},
      {"infinity", inf, L64::max(), U64::max(), L32::max(), U32::max(), L16::max(), U16::max(), 127, 255},
      {"NaN", std::nan(""), 0, 0, 0, 0, 0, 0, 0, 0},
      {"small negative", -2.9, -2, 0, -2, 0, -2, 0, -2, 0},
      {"negative fraction", -0.5, 0, 0, 0, 0, 0, 0, 0, 0},
      {"above a byte", 300.7, 300, 300, 300, 300, 300, 300, 127, 255},
      {"2^63", 9223372036854775808.0, L64::max(), 1ULL << 63, L32::max(), U32::max(), L16::max(), U16::max(), 127, 255},
      {"-2^63", -9223372036854775808.0, L64::min(), 0, L32::min(), 0, L16::min(), 0, -128, 0},
      {"2^64", 18446744073709551616.0, L64::max(), U64::max(), L32::max(), U32::max(), L16::max(), U16::max(), 127, 255},
      {"-2^31", -2147483648.0, -2147483648LL, 0, L32::min(), 0, L16::min(), 0, -128, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const Number n : {Number::fromDouble(c.input), Number::fromDecimal(c.input)}) {
      EXPECT_EQ(n.int64Value(), c.i64);
      EXPECT_EQ(n.uint64Value(), c.u64);
      EXPECT_EQ(n.int32Value(), c.i32);
      EXPECT_EQ(n.uint32Value(), c.u32);
      EXPECT_EQ(n.int16Value(), c.i16);
      EXPECT_EQ(n.uint16Value(), c.u16);
      EXPECT_EQ(n.int8Value(), c.i8);
      EXPECT_EQ(n.uint8Value(), c.u8);
    }
  }
}

}  // namespace
}  // namespace foundation
