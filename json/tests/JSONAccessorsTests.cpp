// Typed accessors of JSON values.
#include <gtest/gtest.h>

#include <limits>

#include "json/JSON.h"

namespace json {
namespace {

using foundation::Value;

TEST(JSONAccessorsTests, BoolValueReadsNumbersAndTheFiveWords) {
  struct Case {
    JSON value;
    bool expected;
  } cases[] = {
      {"TRUE", true}, {"Yes", true}, {"T", true}, {"Y", true}, {"1", true},
      {"no", false},  {"0", false},  {"2", false}, {"on", false}, {"", false}, {" yes", false},
      {2, true},      {0, false},    {JSON(), false}, {true, true}, {0.5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.description());
    EXPECT_EQ(c.value.boolValue(), c.expected);
  }
  EXPECT_FALSE(JSON(1).asBool());
  EXPECT_FALSE(JSON("true").asBool());
  EXPECT_EQ(JSON(false).asBool(), false);
}

TEST(JSONAccessorsTests, StringAndNumberViews) {
  EXPECT_EQ(JSON(false).stringValue(), "false");
  EXPECT_EQ(JSON(5).stringValue(), "5");
  EXPECT_EQ(JSON(2.5).stringValue(), "2.5");
  for (const JSON& empty : {JSON(), JSON::arrayLiteral({1}), JSON::dictionaryLiteral({{"a", 1}})}) {
    EXPECT_EQ(empty.stringValue(), "");
    EXPECT_FALSE(empty.string());
  }
  EXPECT_FALSE(JSON(5).string());

  EXPECT_FALSE(JSON("42").asInt());
  EXPECT_EQ(JSON("42").intValue(), 42);
  EXPECT_EQ(JSON("abc").intValue(), 0);
  EXPECT_EQ(JSON(" -7.9kg").intValue(), -7);
  EXPECT_EQ(JSON("1.5").doubleValue(), 1.5);
  EXPECT_EQ(JSON("9007199254740993").int64Value(), 9007199254740993);
  EXPECT_EQ(JSON(true).asDouble(), 1.0);
  EXPECT_EQ(JSON(false).asInt(), 0);
  EXPECT_FALSE(JSON().asInt());

  const foundation::Number ofNull = JSON().numberValue();
  EXPECT_EQ(ofNull.kind(), foundation::Number::Kind::Double);
  EXPECT_EQ(ofNull.doubleValue(), 0.0);
  const foundation::Number ofTrue = JSON(true).numberValue();
  EXPECT_EQ(ofTrue.kind(), foundation::Number::Kind::Int64);
  EXPECT_EQ(ofTrue.int64Value(), 1);
  EXPECT_FALSE(JSON("5").number());
}

TEST(JSONAccessorsTests, FixedWidthReadsWrapAndTruncateAsThePlatform) {
  EXPECT_EQ(JSON(300).uInt8Value(), 44);
  EXPECT_EQ(JSON(-1).uInt16(), 65535);
  EXPECT_EQ(JSON(2.9).int32(), 2);
  EXPECT_EQ(JSON(1e300).int64Value(), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(JSON(std::numeric_limits<double>::quiet_NaN()).intValue(), 0);
  EXPECT_EQ(JSON(128).int8(), -128);
  EXPECT_FLOAT_EQ(JSON("0.25").floatValue(), 0.25f);
}

TEST(JSONAccessorsTests, SettersReDeriveTheTypeAndClearTheError) {
  JSON value = JSON::parseJSON("{}")["missing"];
  ASSERT_FALSE(value.exists());
  value.setInt8Value(1);
  EXPECT_EQ(value.type(), Type::Number);
  EXPECT_TRUE(value.exists());
  EXPECT_TRUE(value.boolValue());
  EXPECT_FALSE(value.asBool());

  value.setUInt8(std::nullopt);
  EXPECT_EQ(value.type(), Type::Null);
  EXPECT_TRUE(value.null());

  JSON unknown(Value(foundation::Date{}));
  EXPECT_FALSE(unknown.null());
  unknown.setNull();
  EXPECT_EQ(unknown.type(), Type::Null);
  EXPECT_FALSE(unknown.error());

  value.setArrayObject(foundation::Array{"s", 1});
  ASSERT_EQ(value.type(), Type::Array);
  const auto elements = value.arrayValue();
  ASSERT_EQ(elements.size(), 2u);
  EXPECT_EQ(elements[0].type(), Type::String);
  EXPECT_EQ(elements[1].type(), Type::Number);
  value.setArrayObject(std::nullopt);
  EXPECT_EQ(value.type(), Type::Null);

  value.setBool(true);
  EXPECT_EQ(value.type(), Type::Bool);
  value.setDictionaryObject(foundation::Dictionary{{"k", 1}});
  EXPECT_EQ(value.dictionary()->at(0).first, "k");
  value.setStringValue("x");
  EXPECT_EQ(value.string(), "x");
  value.setUInt64Value(std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(value.uInt64(), std::numeric_limits<std::uint64_t>::max());
}

TEST(JSONAccessorsTests, CollectionsOfTheWrongTypeReadEmpty) {
  EXPECT_TRUE(JSON::arrayLiteral({1}).dictionaryValue().empty());
  EXPECT_FALSE(JSON::arrayLiteral({1}).dictionaryObject());
  EXPECT_TRUE(JSON::dictionaryLiteral({{"a", 1}}).arrayValue().empty());
  EXPECT_FALSE(JSON("x").array());
}

TEST(JSONAccessorsTests, URLsAreEncodedUnlessTheyHoldAnEscape) {
  struct Case {
    const char* text;
    const char* url;
  } cases[] = {
      {"a b", "a%20b"},
      {"a%20b", "a%20b"},
      {"100%", "100%25"},
      {"https://example.com/p?q=1", "https://example.com/p?q=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto url = JSON(c.text).url();
    ASSERT_TRUE(url);
    EXPECT_EQ(url->absoluteString(), c.url);
  }
  EXPECT_FALSE(JSON(5).url());

  JSON value;
  value.setURL(foundation::URL::parse("https://example.com/a"));
  EXPECT_EQ(value.type(), Type::String);
  EXPECT_EQ(value.string(), "https://example.com/a");
}

}  // namespace
}  // namespace json
