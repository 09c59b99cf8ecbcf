// Literals, comparison, merging and coding.
#include <gtest/gtest.h>

#include <limits>

#include "json/JSON.h"
#include "json/JSONCoding.h"

namespace json {

void PrintTo(const JSON& value, std::ostream* out) { *out << value.description(); }

namespace {

using foundation::Value;

JSON parsed(std::string_view text) { return JSON::parseJSON(text); }

struct Comparison {
  bool eq, lt, le, ge, gt;
  friend bool operator==(const Comparison&, const Comparison&) = default;
};
Comparison compareAll(const JSON& a, const JSON& b) { return {a == b, a < b, a <= b, a >= b, a > b}; }
void PrintTo(const Comparison& c, std::ostream* out) {
  *out << "== " << c.eq << " < " << c.lt << " <= " << c.le << " >= " << c.ge << " > " << c.gt;
}

TEST(JSONLiteralTests, LiteralsDeriveTheirTypes) {
  EXPECT_EQ(JSON("s").type(), Type::String);
  EXPECT_EQ(JSON(1).type(), Type::Number);
  EXPECT_EQ(JSON(true).type(), Type::Bool);
  EXPECT_EQ(JSON(1.5).type(), Type::Number);
  EXPECT_EQ(JSON::arrayLiteral({1, "a"}).type(), Type::Array);
  const JSON twice = JSON::dictionaryLiteral({{"k", 1}, {"other", 0}, {"k", 2}});
  EXPECT_EQ(twice.type(), Type::Dictionary);
  EXPECT_EQ(twice["k"].intValue(), 2);
  EXPECT_EQ(twice.count(), 2);
  const JSON noValueLast = JSON::dictionaryLiteral({{"k", 1}, {"k", Value()}});
  EXPECT_EQ(noValueLast.count(), 1);
  EXPECT_TRUE(noValueLast["k"].exists());
  EXPECT_EQ(noValueLast["k"].type(), Type::Null);
}

TEST(JSONLiteralTests, RawValueRefusesOnlyUnknownKinds) {
  EXPECT_FALSE(JSON::fromRawValue(Value(foundation::Date{})));
  auto null = JSON::fromRawValue(Value(nullptr));
  ASSERT_TRUE(null);
  EXPECT_EQ(null->type(), Type::Null);
  EXPECT_EQ(JSON::fromRawValue(Value(foundation::Data(std::string("[1]"))))->type(), Type::Array);
  EXPECT_EQ(JSON(3).rawValue(), Value(3));
}

TEST(JSONComparisonTests, OperatorsFollowTheTableOfEachPairOfTypes) {
  const JSON date(Value(foundation::Date{}));
  struct Case {
    const char* name;
    JSON a, b;
    Comparison expected;
  } cases[] = {
      {"integer 1 and true", 1, true, {false, false, false, false, false}},
      {"1 and 1.0", 1, 1.0, {true, false, true, true, false}},
      {"1 and 2", 1, 2, {false, true, true, false, false}},
      {"NaN", std::numeric_limits<double>::quiet_NaN(), 1, {false, false, false, false, false}},
      {"true and false", true, false, {false, false, false, false, false}},
      {"true and true", true, true, {true, false, true, true, false}},
      {"empty lists", parsed("[]"), parsed("[]"), {true, false, true, true, false}},
      {"different lists", parsed("[1]"), parsed("[2]"), {false, false, false, false, false}},
      {"nulls", JSON(), JSON(), {true, false, true, true, false}},
      {"equal maps", parsed(R"({"a":1,"b":2})"), parsed(R"({"b":2,"a":1.0})"), {true, false, true, true, false}},
      {"unknown with itself", date, date, {false, false, false, false, false}},
      {"a and b", "a", "b", {false, true, true, false, false}},
      {"b and b", "b", "b", {true, false, true, true, false}},
      {"text and number", "1", 1, {false, false, false, false, false}},
      {"canonical equivalents", "caf\xC3\xA9", "cafe\xCC\x81", {true, false, true, true, false}},
      {"scalar order beyond ASCII", "z", "\xC3\x9F", {false, true, true, false, false}},
      {"precomposed accent after z", "\xC3\xA9", "z", {false, false, false, true, true}},
      {"combining accent ordered as composed", "e\xCC\x81", "z", {false, false, false, true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(compareAll(c.a, c.b), c.expected);
  }
}

TEST(JSONMergeTests, DictionariesMergeDeeplyAndArraysConcatenate) {
  JSON base = parsed(R"({"a": 1, "b": {"c": 2}})");
  ASSERT_TRUE(base.merge(parsed(R"({"b": {"d": 3}, "e": [1]})")).ok());
  EXPECT_EQ(base, parsed(R"({"a": 1, "b": {"c": 2, "d": 3}, "e": [1]})"));

  EXPECT_EQ(*parsed("[1, 2]").merged(parsed("[3]")), parsed("[1, 2, 3]"));
  EXPECT_EQ(*JSON("x").merged(JSON("y")), JSON("y"));
  EXPECT_EQ(*parsed(R"({"a": 1})").merged(parsed(R"({"a": "s"})")), parsed(R"({"a": "s"})"));

  JSON self = parsed(R"({"a": [1]})");
  ASSERT_TRUE(self.merge(self).ok());
  EXPECT_EQ(self, parsed(R"({"a": [1, 1]})"));
}

TEST(JSONMergeTests, DifferentTopLevelTypesAreRefused) {
  JSON number = 1;
  auto result = number.merge(JSON("s"));
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().code(), 901);
  EXPECT_EQ(result.error().localizedDescription(), "Couldn't merge, because the JSONs differ in type on top level.");
  EXPECT_EQ(number, JSON(1));
  EXPECT_FALSE(number.merged(JSON("s")).ok());
}

Value encoded(const JSON& value) {
  ValueEncoder encoder;
  EXPECT_TRUE(value.encode(encoder).ok());
  return encoder.value();
}

TEST(JSONCodingTests, EncodingPicksIntegersBeforeDoublesAndKeepsBools) {
  EXPECT_EQ(encoded(JSON(3.0)).number()->kind(), foundation::Number::Kind::Int64);
  EXPECT_EQ(encoded(JSON(2.5)).number()->kind(), foundation::Number::Kind::Double);
  EXPECT_TRUE(encoded(JSON(true)).isBool());
  EXPECT_TRUE(encoded(JSON(Value(foundation::Date{}))).isNull());
  EXPECT_EQ(encoded(JSON(std::numeric_limits<std::uint64_t>::max())).number()->kind(),
            foundation::Number::Kind::UInt64);
  const Value nested = encoded(parsed(R"({"a": [true, 1, "s", null]})"));
  auto text = foundation::JSONSerialization::dataWithJSONObject(nested);
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text, R"({"a":[true,1,"s",null]})");
}

TEST(JSONCodingTests, DecodingTriesEachKindInTurn) {
  struct Case {
    const char* text;
    Type type;
  } cases[] = {
      {"true", Type::Bool}, {"7", Type::Number}, {"7.5", Type::Number},
      {"\"s\"", Type::String}, {"null", Type::Null}, {R"([{"a": 1}])", Type::Array},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto value = foundation::JSONSerialization::JSONObjectWithData(c.text, foundation::JSONReadingOptions::FragmentsAllowed);
    ASSERT_TRUE(value.ok());
    ValueDecoder decoder(*value);
    const JSON decoded = JSON::fromDecoder(decoder);
    EXPECT_EQ(decoded.type(), c.type);
    EXPECT_FALSE(decoded.error());
  }
  ValueDecoder list(Value(foundation::Array{foundation::Dictionary{{"a", 1}}}));
  EXPECT_EQ(JSON::fromDecoder(list)[0].type(), Type::Dictionary);
  ValueDecoder date(Value(foundation::Date{}));
  EXPECT_EQ(JSON::fromDecoder(date).type(), Type::Null);
}

}  // namespace
}  // namespace json
