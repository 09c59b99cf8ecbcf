#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/JSONArrayCount.h"
#include "platform/foundation/JSONSerialization.h"

namespace foundation {
namespace {

struct Case {
  const char* text;
  std::optional<std::size_t> count;
};

void expectCounts(std::initializer_list<Case> cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    // An allocation of exactly the text's size, so that a read past its end shows under the
    // address sanitizer.
    const std::size_t length = std::strlen(c.text);
    auto exact = std::make_unique<char[]>(length);
    std::memcpy(exact.get(), c.text, length);
    EXPECT_EQ(countJSONArrayElements(std::string_view(exact.get(), length)), c.count);
  }
}

TEST(JSONArrayCountTests, CountsTheTopLevelOfOneArrayOnly) {
  expectCounts({
      {"[]", 0},
      {" [ ] \n", 0},
      {R"([{"a":[1,2,{"b":"],["}]},7,"x,y",[[],[]],null])", 5},
      {"[1,[2,3]]", 2},
      {"{\"a\":1}", std::nullopt},
      {"7", std::nullopt},
      {"\"[1]\"", std::nullopt},
      {"", std::nullopt},
      {"  ", std::nullopt},
      {"garbage", std::nullopt},
      {"\xEF\xBB\xBF[1]", std::nullopt},
      {"[1,2", std::nullopt},
      {"[1,2] [3]", std::nullopt},
      {"[1,2] x", std::nullopt},
      {"[1,2]]", std::nullopt},
  });
}

TEST(JSONArrayCountTests, RefusesWhatTheGrammarDoesNotAllow) {
  expectCounts({
      {"[1,,2]", std::nullopt},
      {"[,1]", std::nullopt},
      {"[1,]", std::nullopt},
      {"[1 2]", std::nullopt},
      {R"(["a" "b"])", std::nullopt},
      {R"(["a"1])", std::nullopt},
      {R"([1"a"])", std::nullopt},
      {R"([null"a"])", std::nullopt},
      {R"([{"a"}])", std::nullopt},
      {R"([{"a":}])", std::nullopt},
      {R"([{"a":1,}])", std::nullopt},
      {R"([{1:2}])", std::nullopt},
      {R"([{"a" 1}])", std::nullopt},
      {R"([{"a"::1}])", std::nullopt},
      {R"([{"a":1]])", std::nullopt},
      {R"([[}])", std::nullopt},
      {R"([{"a":1},{"b":[true,false,null]}])", 2},
  });
}

TEST(JSONArrayCountTests, ChecksNumbersLiteralsStringsAndEscapes) {
  expectCounts({
      {"[0,-0,1.5,-12e3,1E+2,2e-7,1.5e400]", 7},
      {"[01]", std::nullopt},
      {"[1.]", std::nullopt},
      {"[.5]", std::nullopt},
      {"[-]", std::nullopt},
      {"[1e]", std::nullopt},
      {"[+1]", std::nullopt},
      {"[1x]", std::nullopt},
      {"[tru]", std::nullopt},
      {"[truex]", std::nullopt},
      {"[nul]", std::nullopt},
      {"[True]", std::nullopt},
      {R"(["\" \\ \/ \b \f \n \r \t \u00e9 \uD83D\uDE00"])", 1},
      {R"(["\\"])", 1},
      {R"(["\\\""])", 1},
      {R"(["\q"])", std::nullopt},
      {R"(["\u12"])", std::nullopt},
      {R"(["\u12G4"])", std::nullopt},
      {R"(["\uD800"])", std::nullopt},
      {R"(["\uD800\u0041"])", std::nullopt},
      {R"(["\uDC00"])", std::nullopt},
      {"[\"a\x01\"]", std::nullopt},
      {"[\"a\xff\"]", std::nullopt},
      {"[\"open]", std::nullopt},
      {"[\"\\", std::nullopt},
  });
}

TEST(JSONArrayCountTests, EscapesAreCheckedThroughoutALongText) {
  // Escapes are checked a stretch of text at a time: sequences of every length land on every
  // kind of place in a long text, and one bad sequence is found wherever it stands.
  constexpr int kElements = 3000;
  const auto text = [](int bad) {
    std::string out = "[";
    for (int i = 0; i < kElements; ++i) {
      if (i > 0) out += ',';
      out += '"' + std::string(static_cast<std::size_t>(i % 37), 'x');
      out += i == bad ? R"(\q)" : R"(\uD83D\uDE00\\\")";
      out += '"';
    }
    return out + "]";
  };
  EXPECT_EQ(countJSONArrayElements(text(-1)), static_cast<std::size_t>(kElements));
  for (int bad : {0, 1234, kElements - 1}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(countJSONArrayElements(text(bad)), std::nullopt);
  }
}

TEST(JSONArrayCountTests, NestingStopsWhereTheJSONReaderStops) {
  const std::size_t limit = JSONSerialization::kMaxDepth;
  const std::string deepest = std::string(limit, '[') + std::string(limit, ']');
  const std::string deeper = "[" + deepest + "]";
  EXPECT_EQ(countJSONArrayElements(deepest), 1u);
  EXPECT_TRUE(JSONSerialization::JSONObjectWithData(deepest));
  EXPECT_EQ(countJSONArrayElements(deeper), std::nullopt);
  EXPECT_FALSE(JSONSerialization::JSONObjectWithData(deeper));
}

}  // namespace
}  // namespace foundation
