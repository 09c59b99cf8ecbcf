// The value model, subscripts and paths, and iteration.
#include "json/JSON.h"

#include <gtest/gtest.h>

#include "platform/foundation/Error.h"

namespace json {

void PrintTo(const JSON& value, std::ostream* out) { *out << value.description(); }

namespace {

using foundation::Value;

JSON parsed(std::string_view text) {
  auto json = JSON::fromData(text);
  EXPECT_TRUE(json.ok()) << text;
  return json.ok() ? *json : JSON();
}

Value dateValue() { return Value(foundation::Date{1.0}); }

// ---------------------------------------------------------------------------------------------
// Value model

TEST(JSONModelTests, ParsedElementsKeepTheirTypes) {
  const JSON array = parsed(R"([1, true, 1.5, "s", null, {}])");
  ASSERT_EQ(array.type(), Type::Array);
  const Type expected[] = {Type::Number, Type::Bool, Type::Number, Type::String, Type::Null, Type::Dictionary};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(array[i].type(), expected[i]) << i;
    EXPECT_TRUE(array[i].exists()) << i;
  }
  EXPECT_EQ(JSON().type(), Type::Null);
  EXPECT_FALSE(JSON().error());
  const char* noText = nullptr;
  for (const JSON& null : {JSON(nullptr), JSON(noText)}) {
    EXPECT_EQ(null.type(), Type::Null);
    EXPECT_FALSE(null.error());
  }
}

TEST(JSONModelTests, NumbersAndBoolsAreToldApartByHowTheyWereMade) {
  EXPECT_EQ(JSON(Value(1)).type(), Type::Number);
  EXPECT_EQ(JSON(Value(0.0)).type(), Type::Number);
  EXPECT_EQ(JSON(Value(true)).type(), Type::Bool);
  EXPECT_EQ(JSON(Value(foundation::Number::fromInt64(1))).type(), Type::Number);
}

TEST(JSONModelTests, UnsupportedKindsGiveUnknownUntilAnotherValueIsSet) {
  JSON value(dateValue());
  EXPECT_EQ(value.type(), Type::Unknown);
  EXPECT_EQ(value.error(), JSONError::UnsupportedType);
  EXPECT_TRUE(value.object().isNull());

  value.setObject(Value("text"));
  EXPECT_EQ(value.type(), Type::String);
  EXPECT_FALSE(value.error());

  // Members of a list are not checked when it is set; the date shows when it is read.
  const JSON list = JSON::arrayLiteral({1, dateValue()});
  EXPECT_EQ(list.type(), Type::Array);
  EXPECT_FALSE(list.error());
  EXPECT_EQ(list[1].type(), Type::Unknown);
  EXPECT_EQ(list[1].error(), JSONError::UnsupportedType);
}

TEST(JSONModelTests, TheRawValueOfATemporaryOutlivesIt) {
  const std::string text = R"({"k": ")" + std::string(64, 'x') + R"("})";
  const Value& object = JSON::parseJSON(text).object();
  const Value& raw = JSON::parseJSON(text).rawValue();
  EXPECT_EQ(object["k"], Value(std::string(64, 'x')));
  EXPECT_EQ(raw, object);
}

TEST(JSONModelTests, NestedJSONValuesAreStoredAsTheirRawValues) {
  const JSON inner = "text";
  JSON outer;
  outer.setObject(inner.object());
  EXPECT_EQ(outer.type(), Type::String);

  const JSON list = JSON::arrayLiteral({inner, JSON::dictionaryLiteral({{"k", 1}})});
  EXPECT_EQ(*list.object().array(), (foundation::Array{"text", foundation::Dictionary{{"k", 1}}}));
}

TEST(JSONModelTests, ParseFailuresAreSilentOnlyWhereTheInitialiserIsNotThrowing) {
  const JSON silent = JSON::parseJSON("{not json");
  EXPECT_EQ(silent.type(), Type::Null);
  EXPECT_FALSE(silent.error());
  EXPECT_EQ(JSON(Value(foundation::Data(std::string("[1")))).type(), Type::Null);

  auto loud = JSON::fromData(std::string_view("{not json"));
  ASSERT_FALSE(loud.ok());
  EXPECT_EQ(loud.error().domain(), foundation::kCocoaErrorDomain);
  EXPECT_EQ(loud.error().code(), 3840);
}

TEST(JSONModelTests, TopLevelScalarsNeedFragmentsAllowed) {
  EXPECT_EQ(JSON::parseJSON("5").type(), Type::Null);
  EXPECT_FALSE(JSON::fromData(std::string_view("5")).ok());
  auto fragment = JSON::fromData(std::string_view("5"), foundation::JSONReadingOptions::FragmentsAllowed);
  ASSERT_TRUE(fragment.ok());
  EXPECT_EQ(fragment->intValue(), 5);
}

TEST(JSONModelTests, ErrorsHaveFixedCodesDescriptionsAndOneDomain) {
  struct Case {
    JSONError error;
    std::int64_t code;
    const char* description;
  } cases[] = {
      {JSONError::UnsupportedType, 999, "It is an unsupported type."},
      {JSONError::IndexOutOfBounds, 900, "Array Index is out of bounds."},
      {JSONError::ElementTooDeep, 902,
       "Element too deep. Increase maxObjectDepth and make sure there is no reference loop."},
      {JSONError::WrongType, 901, "Couldn't merge, because the JSONs differ in type on top level."},
      {JSONError::NotExist, 500, "Dictionary key does not exist."},
      {JSONError::InvalidJSON, 490, "JSON is invalid."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(jsonErrorFromRawValue(c.code), c.error);
    const foundation::Error error = toError(c.error);
    EXPECT_EQ(error.domain(), kJSONErrorDomain);
    EXPECT_EQ(error.code(), c.code);
    EXPECT_EQ(error.userInfo().size(), 1u);
    EXPECT_EQ(error.localizedDescription(), c.description);
  }
  EXPECT_FALSE(jsonErrorFromRawValue(903));
  EXPECT_EQ(typeFromRawValue(4), Type::Dictionary);
  EXPECT_FALSE(typeFromRawValue(7));
  EXPECT_FALSE(typeFromRawValue(-1));
}

// ---------------------------------------------------------------------------------------------
// Subscripts and paths

TEST(JSONSubscriptTests, LookupMissesCarryTheErrorOfTheFirstFailingStep) {
  const JSON list = parsed("[1, 2, 3]");
  const JSON rule = parsed(R"({"trigger": "x", "action": {"type": "block"}})");
  const JSON missing = rule["nothing"];
  struct Case {
    const char* name;
    JSON result;
    std::optional<JSONError> error;
  } cases[] = {
      {"last index", list[2], std::nullopt},
      {"index past the end", list[3], JSONError::IndexOutOfBounds},
      {"negative index", list[-1], JSONError::IndexOutOfBounds},
      {"index into a string", JSON("s")[0], JSONError::WrongType},
      {"key into an array", list["a"], JSONError::WrongType},
      {"missing key", missing, JSONError::NotExist},
      {"index after a miss", missing[0], JSONError::NotExist},
      {"key after a miss", missing["k"], JSONError::NotExist},
      {"path through a missing key", parsed(R"({"a": 1})").get({"trigger", "if-domain"}), JSONError::NotExist},
      {"path through a string", rule.get("trigger", "if-domain"), JSONError::WrongType},
      {"path to a value", rule.get({"action", "type"}), std::nullopt},
      {"path out of an array", parsed(R"({"a": [1]})").get("a", 1, "b"), JSONError::IndexOutOfBounds},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.result.error(), c.error);
    if (c.error) {
      EXPECT_EQ(c.result.type(), Type::Null);
      EXPECT_FALSE(c.result.exists());
    }
  }
  EXPECT_EQ(rule.get({"action", "type"}).string(), "block");
  EXPECT_EQ(toError(*rule.get("trigger", "if-domain").error()).localizedDescription(),
            "Couldn't merge, because the JSONs differ in type on top level.");
}

TEST(JSONSubscriptTests, EmptyPathReadsTheReceiverWithItsErrorAndWritesNothing) {
  const JSON miss = parsed("{}")["k"];
  EXPECT_EQ(miss.get(std::span<const JSONKey>()).error(), JSONError::NotExist);
  JSON value = parsed(R"({"a": 1})");
  value.set(std::span<const JSONKey>(), JSON(2));
  EXPECT_EQ(value.rawString(StringEncoding::UTF8, foundation::JSONWritingOptions::None), R"({"a":1})");
}

TEST(JSONSubscriptTests, PathSetterChangesOnlyExistingContainers) {
  const std::string_view text = R"({"trigger": {"url-filter": ".*"}, "action": {"type": "block"}})";
  JSON rule = parsed(text);
  const JSON original = rule;
  rule.set({"trigger", "if-domain"}, JSON::arrayLiteral({"a.com"}));
  EXPECT_EQ(rule.get("trigger", "if-domain", 0).string(), "a.com");
  EXPECT_FALSE(original.get("trigger", "if-domain").exists()) << "copies do not share changes";

  JSON bare = parsed(R"({"action": {"type": "block"}})");
  bare.set({"trigger", "if-domain"}, JSON::arrayLiteral({"a.com"}));
  EXPECT_FALSE(bare["trigger"].exists());
  EXPECT_EQ(bare.count(), 1);

  JSON pair = parsed("[1, 2]");
  pair.set(5, JSON(9));
  pair.set({5}, JSON(9));
  pair.set({0, "x"}, JSON(9));
  EXPECT_EQ(pair, JSON::arrayLiteral({1, 2}));
  pair.set({1}, JSON(true));
  EXPECT_EQ(pair[1].type(), Type::Bool);
}

TEST(JSONSubscriptTests, WritingAValueIntoItselfStoresACopyOfTheOldValue) {
  const struct {
    const char* name;
    const char* text;
    std::vector<JSONKey> path;
    const char* expected;
  } cases[] = {
      {"one step", R"({"a": 1})", {"b"}, R"({"a":1,"b":{"a":1}})"},
      {"into a nested dictionary", R"({"a": {"b": 1}})", {"a", "c"}, R"({"a":{"b":1,"c":{"a":{"b":1}}}})"},
      {"into a nested array", "[[1]]", {0, 0}, "[[[[1]]]]"},
      {"three steps", R"({"a": [{"b": 1}]})", {"a", 0, "b"}, R"({"a":[{"b":{"a":[{"b":1}]}}]})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    JSON value = parsed(c.text);
    value.set(std::span<const JSONKey>(c.path), value);
    EXPECT_EQ(value.rawString(StringEncoding::UTF8, foundation::JSONWritingOptions::SortedKeys), c.expected);
  }
}

TEST(JSONSubscriptTests, KeySetterRefusesValuesWithErrorsWhileOneStepPathStoresNull) {
  JSON dictionary = parsed(R"({"a": 1})");
  const JSON miss = dictionary["zzz"];
  dictionary.set("b", miss);
  EXPECT_FALSE(dictionary["b"].exists());
  dictionary.set({"b"}, miss);
  EXPECT_TRUE(dictionary["b"].exists());
  EXPECT_EQ(dictionary["b"].type(), Type::Null);
  dictionary.set("c", JSON("x"));
  EXPECT_EQ(dictionary["c"].string(), "x");

  JSON scalar = "text";
  scalar.set("k", JSON(1));
  EXPECT_EQ(scalar.type(), Type::String);
}

TEST(JSONSubscriptTests, BoolsStayBoolsThroughReadChangeAndWrite) {
  JSON rules = parsed(R"([{"trigger": {"url-filter": "x", "url-filter-is-case-sensitive": true}}])");
  JSON rule = rules[0];
  rule.set({"trigger", "unless-domain"}, JSON::arrayLiteral({"a.com"}));
  rules.set(0, rule);
  EXPECT_EQ(rules.get(0, "trigger", "url-filter-is-case-sensitive").asBool(), true);
  auto bytes = rules.rawData();
  ASSERT_TRUE(bytes.ok());
  EXPECT_NE(bytes->bytes().find(R"("url-filter-is-case-sensitive":true)"), std::string::npos) << bytes->bytes();
}

TEST(JSONSubscriptTests, DataElementsAreParsedWhenRead) {
  JSON list;
  list.setArrayObject(foundation::Array{Value(foundation::Data(std::string(R"({"k": [7]})")))});
  EXPECT_EQ(list[0].type(), Type::Dictionary);
  EXPECT_EQ(list.get(0, "k", 0).intValue(), 7);
  list.set({0, "k", 0}, JSON(8));
  EXPECT_EQ(list.get(0, "k", 0).intValue(), 8);
}

TEST(JSONSubscriptTests, ModifyStoresTheChangedValueBack) {
  JSON rule = parsed(R"({"trigger": {"if-domain": ["a"]}})");
  rule.modify({"trigger", "if-domain"}, [](JSON& domains) {
    auto list = domains.arrayObject().value_or(foundation::Array());
    list.push_back("b");
    domains.setArrayObject(list);
  });
  EXPECT_EQ(rule.get("trigger", "if-domain"), JSON::arrayLiteral({"a", "b"}));
}

// ---------------------------------------------------------------------------------------------
// Index and iteration

std::vector<std::pair<std::string, std::string>> entries(const JSON& json) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& [key, value] : json) out.emplace_back(key, value.stringValue());
  return out;
}

TEST(JSONIndexTests, ContainersYieldKeyedElementsAndScalarsNothing) {
  using Entries = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(entries(parsed("[10, 20]")), (Entries{{"0", "10"}, {"1", "20"}}));
  EXPECT_EQ(entries(parsed(R"({"b": 1, "a": true})")), (Entries{{"b", "1"}, {"a", "true"}}));
  for (const JSON& value : {JSON("s"), JSON(1), JSON(true), JSON(), JSON(dateValue()), parsed("[]"), parsed("{}")}) {
    SCOPED_TRACE(value.description());
    EXPECT_TRUE(entries(value).empty());
    EXPECT_EQ(value.count(), 0);
    EXPECT_TRUE(value.isEmpty());
    EXPECT_TRUE(value.startIndex() == value.endIndex());
  }
  EXPECT_EQ(parsed(R"({"a": 1, "b": 2})").count(), 2);
  EXPECT_FALSE(parsed("[0]").isEmpty());
}

TEST(JSONIndexTests, IndicesCompareOnlyWithinTheirCase) {
  using Index = JSON::Index;
  EXPECT_TRUE(Index::null() == Index::null());
  EXPECT_FALSE(Index::null() < Index::null());
  EXPECT_TRUE(Index::array(1) < Index::array(2));
  EXPECT_FALSE(Index::array(1) < Index::null());
  EXPECT_FALSE(Index::null() < Index::array(1));
  EXPECT_FALSE(Index::array(1) == Index::dictionary(1));
  EXPECT_TRUE(Index::array(2) >= Index::array(2));
  EXPECT_TRUE(Index::dictionary(3) > Index::dictionary(1));
}

TEST(JSONIndexTests, ForeignIndicesReadAsTheNullElement) {
  const JSON list = parsed("[1]");
  EXPECT_EQ(list[JSON::Index::array(5)].second.type(), Type::Null);
  EXPECT_EQ(list[JSON::Index::dictionary(0)].first, "");
  EXPECT_EQ(list[JSON::Index::array(-1)].second.type(), Type::Null);
}

}  // namespace
}  // namespace json
