// Serialisation of JSON values.
#include <gtest/gtest.h>

#include <limits>

#include "platform/foundation/tests/ConsoleCapture.h"
#include "json/JSON.h"
#include "platform/foundation/Console.h"

namespace json {
namespace {

using foundation::JSONWritingOptions;
using foundation::Value;

JSON parsed(std::string_view text) { return JSON::parseJSON(text); }

WritingOptionsMap ownWriter(std::int64_t depth = 10) {
  return {{writingOptionsKeys::CastNilToNSNull, Value(true)}, {writingOptionsKeys::MaxObjextDepth, Value(depth)}};
}

TEST(JSONWritingTests, ScalarsAreWrittenAsPlainText) {
  const WritingOptionsMap none;
  EXPECT_EQ(JSON("a\"b").rawString(none), "a\"b");
  EXPECT_EQ(JSON(5).rawString(none), "5");
  EXPECT_EQ(JSON(1.5).rawString(none), "1.5");
  EXPECT_EQ(JSON(true).rawString(none), "true");
  EXPECT_EQ(JSON().rawString(none), "null");
  EXPECT_FALSE(JSON(Value(foundation::Date{})).rawString(none));
}

TEST(JSONWritingTests, OwnWriterWritesCompactEscapedText) {
  struct Case {
    const char* name;
    JSON value;
    std::optional<std::string> text;
  } cases[] = {
      {"absent member", JSON(Value(foundation::Array{1, true, Value()})), "[1,true,null]"},
      {"quote", JSON::arrayLiteral({"a\"b"}), R"(["a\"b"])"},
      {"backslash", JSON::arrayLiteral({"c\\d"}), R"(["c\\d"])"},
      {"string member", JSON::dictionaryLiteral({{"k", "v"}}), R"({"k": "v"})"},
      {"number member", JSON::dictionaryLiteral({{"k", 2}}), R"({"k": 2})"},
      {"absent value", JSON(Value(foundation::Dictionary{{"k", Value(nullptr)}})), R"({"k": null})"},
      {"nested", parsed(R"({"a": [1, {"b": false}]})"), R"({"a": [1,{"b": false}]})"},
      {"control characters", JSON::arrayLiteral({"l1\nl2\t\x01"}), R"(["l1\nl2\t\u0001"])"},
      {"key escaped", JSON::dictionaryLiteral({{"k\"\n", 1}}), R"({"k\"\n": 1})"},
      {"non-ASCII kept", JSON::arrayLiteral({"caf\xC3\xA9"}), "[\"caf\xC3\xA9\"]"},
      {"invalid UTF-8 replaced", JSON::arrayLiteral({"a\xFF"}), "[\"a\xEF\xBF\xBD\"]"},
      {"date member", JSON::arrayLiteral({Value(foundation::Date{})}), std::nullopt},
      {"NaN member", JSON::arrayLiteral({std::numeric_limits<double>::quiet_NaN()}), std::nullopt},
      {"empty list", parsed("[]"), "[]"},
      {"empty map", parsed("{}"), "{}"},
  };
  auto capture = foundation::captureConsoleForTesting();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto text = c.value.rawString(ownWriter());
    EXPECT_EQ(text, c.text);
    if (text) {
      EXPECT_TRUE(JSON::fromData(*text).ok()) << *text;
    }
  }
  EXPECT_EQ(capture->text(), "") << "member failures are silent";
}

TEST(JSONWritingTests, NestingLimitFailsTheWholeTextAndPrintsOnlyAtTheTop) {
  auto capture = foundation::captureConsoleForTesting();
  EXPECT_EQ(parsed("[]").rawString(ownWriter(1)), "[]");
  EXPECT_FALSE(parsed("[1]").rawString(ownWriter(1)));
  EXPECT_EQ(parsed("[[1]]").rawString(ownWriter(3)), "[[1]]");
  EXPECT_FALSE(parsed("[[1]]").rawString(ownWriter(2)));
  EXPECT_EQ(capture->text(), "");

  EXPECT_FALSE(JSON(7).rawString(ownWriter(0)));
  EXPECT_EQ(capture->text(), "Could not serialize object to JSON because: JSON is invalid.\n");
}

TEST(JSONWritingTests, DefaultDepthWritesNineLevelsBelowTheTop) {
  std::string nine = "1";
  for (int i = 0; i < 9; ++i) nine = "[" + nine + "]";
  EXPECT_EQ(parsed(nine).rawString(ownWriter()), nine);
  EXPECT_FALSE(parsed("[" + nine + "]").rawString(ownWriter()));
}

TEST(JSONWritingTests, ContainersGoThroughThePlatformWriterByDefault) {
  const JSON value = parsed(R"({"a": [1, 2]})");
  const WritingOptionsMap compact{
      {writingOptionsKeys::JSONSerialization, Value(static_cast<unsigned>(JSONWritingOptions::None))}};
  EXPECT_EQ(value.rawString(compact), R"({"a":[1,2]})");
  EXPECT_EQ(value.rawString(WritingOptionsMap{}), value.rawString());
  EXPECT_NE(value.rawString()->find('\n'), std::string::npos) << "pretty printed by default";
  // A value of the wrong kind is ignored as if the key were missing.
  const WritingOptionsMap wrongKind{{writingOptionsKeys::CastNilToNSNull, Value("yes")}};
  EXPECT_EQ(value.rawString(wrongKind), value.rawString());
  EXPECT_EQ(value.rawString(StringEncoding::ASCII, JSONWritingOptions::None), R"({"a":[1,2]})");
  EXPECT_FALSE(JSON::arrayLiteral({"caf\xC3\xA9"}).rawString(StringEncoding::ASCII, JSONWritingOptions::None));
}

TEST(JSONWritingTests, RawDataAcceptsOnlyValidTopLevelContainers) {
  auto refused = JSON("text").rawData();
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().domain(), kJSONErrorDomain);
  EXPECT_EQ(refused.error().code(), 490);
  EXPECT_EQ(JSON("text").rawData(JSONWritingOptions::FragmentsAllowed).error().code(), 490);
  EXPECT_EQ(JSON::arrayLiteral({Value(foundation::Date{})}).rawData().error().code(), 490);
  auto bytes = parsed("[1, 2]").rawData();
  ASSERT_TRUE(bytes.ok());
  EXPECT_EQ(bytes->bytes(), "[1,2]");
}

TEST(JSONWritingTests, DescriptionIsPrettyTextOrUnknown) {
  EXPECT_EQ(JSON().description(), "null");
  EXPECT_EQ(JSON(true).description(), "true");
  EXPECT_EQ(JSON(Value(foundation::Date{})).description(), "unknown");
  EXPECT_EQ(JSON::arrayLiteral({Value(foundation::Date{})}).debugDescription(), "unknown");
}

}  // namespace
}  // namespace json
