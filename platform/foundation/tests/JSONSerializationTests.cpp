#include "platform/foundation/JSONSerialization.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <thread>

#include "platform/foundation/URL.h"

namespace foundation {
namespace {

using Reading = JSONReadingOptions;
using Writing = JSONWritingOptions;

Value parse(std::string_view text, Reading options = Reading::None) {
  auto result = JSONSerialization::JSONObjectWithData(text, options);
  EXPECT_TRUE(result.ok()) << text << ": " << (result.ok() ? "" : result.error().localizedDescription());
  return result.ok() ? *result : Value();
}

std::string write(const Value& value, Writing options = Writing::None) {
  auto result = JSONSerialization::dataWithJSONObject(value, options);
  EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().localizedDescription());
  return result.ok() ? *result : std::string();
}

void expectReadError(std::string_view text, Reading options = Reading::None) {
  auto result = JSONSerialization::JSONObjectWithData(text, options);
  ASSERT_FALSE(result.ok()) << "accepted: " << text;
  EXPECT_TRUE(result.error().is(kCocoaErrorDomain, 3840));
  EXPECT_NE(result.error().localizedDescription().find("cannot read JSON text: "), std::string::npos);
}

TEST(JSONSerializationTests, NumbersKeepTheirKindAndValueThroughARoundTrip) {
  // Integers beyond 64 bits fall back to doubles; every written number reads back equal.
  const struct {
    const char* text;
    Number::Kind kind;
    Value value;
    const char* written;
  } cases[] = {
      {"true", Number::Kind::Bool, Value(true), "true"},
      {"false", Number::Kind::Bool, Value(false), "false"},
      {"1", Number::Kind::Int64, Value(1), "1"},
      {"0", Number::Kind::Int64, Value(0), "0"},
      {"1.5", Number::Kind::Double, Value(1.5), "1.5"},
      {"-0.0", Number::Kind::Double, Value(-0.0), "-0"},
      {"1e300", Number::Kind::Double, Value(1e300), "1e+300"},
      {"18446744073709551615", Number::Kind::UInt64, Value(std::numeric_limits<std::uint64_t>::max()),
       "18446744073709551615"},
      {"18446744073709551616", Number::Kind::Double, Value(18446744073709551616.0), "18446744073709551616"},
      {"-9223372036854775808", Number::Kind::Int64, Value(std::numeric_limits<std::int64_t>::min()),
       "-9223372036854775808"},
      {"-9223372036854775809", Number::Kind::Double, Value(-9223372036854775809.0), "-9223372036854775808"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Value v = parse(std::string("[") + c.text + "]")[0];
    ASSERT_TRUE(v.number());
    EXPECT_EQ(v.number()->kind(), c.kind);
    EXPECT_EQ(v, c.value);
    EXPECT_EQ(write(Value(Array{v})), std::string("[") + c.written + "]");
    const Value again = parse(write(Value(Array{v})))[0];
    EXPECT_EQ(again, v);
    EXPECT_EQ(again.isBool(), c.kind == Number::Kind::Bool);
  }
}

TEST(JSONSerializationTests, BigIntegersInsideStringsAndKeysAreLeftAlone) {
  const Value v = parse(R"({"123456789012345678901234567890": "99999999999999999999", "n": [-1e2, 99999999999999999999]})");
  EXPECT_EQ(v["123456789012345678901234567890"].asString(), "99999999999999999999");
  EXPECT_EQ(v["n"][1].asDouble(), 1e20);
  expectReadError("[1e400]");
  expectReadError("[1" + std::string(400, '0') + "]");
}

TEST(JSONSerializationTests, UnicodeEscapesReadAsUTF8AndWriteBackExactly) {
  const Value v = parse(R"(["\u00e9\u4e2d\ud83d\ude00", "\u0000\u001f", "caf\u00E9"])");
  EXPECT_EQ(v[0].asString(), "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(v[1].asString(), std::string("\0\x1f", 2));
  EXPECT_EQ(v[2].asString(), "caf\xC3\xA9");
  EXPECT_EQ(write(v), "[\"\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\",\"\\u0000\\u001f\",\"caf\xC3\xA9\"]");
  EXPECT_EQ(parse(write(v)), v);
  expectReadError(R"(["\ud800"])");  // lone high surrogate
  expectReadError(R"(["\udc00x"])");  // lone low surrogate
}

TEST(JSONSerializationTests, WriterEscapesQuotesBackslashesControlsAndSlashes) {
  const Value v = Array{"q\" b\\ s/ n\n r\r t\t b\b f\f x\x01 y\x7f"};
  EXPECT_EQ(write(v), R"(["q\" b\\ s\/ n\n r\r t\t b\b f\f x\u0001 y)" "\x7f\"]");
  EXPECT_EQ(write(Array{"a/b"}, Writing::WithoutEscapingSlashes), R"(["a/b"])");
  // Keys are escaped like values.
  EXPECT_EQ(write(Dictionary{{"k\"\n", 1}}), R"({"k\"\n":1})");
  EXPECT_EQ(parse(write(v)), v);
}

TEST(JSONSerializationTests, LongStringsWithEscapesAtEveryOffsetWriteExactly) {
  // Escapes and multi-byte characters at every position within a word, in a text long enough
  // that the writer's buffer grows several times in the middle of one string.
  std::string text;
  std::size_t escapes = 0;
  for (int i = 0; text.size() < 200'000; ++i) {
    text.append(static_cast<std::size_t>(i % 11), 'a');
    switch (i % 4) {
      case 0: text += '/'; escapes += 1; break;
      case 1: text += "\\\""; escapes += 2; break;
      case 2: text += '\x01'; escapes += 5; break;
      case 3: text += "\xC3\xA9"; break;
    }
  }
  const Value v = Dictionary{{"k/", Array{text, 1}}};
  const std::string written = write(v);
  EXPECT_EQ(written.size(), text.size() + escapes + std::string(R"({"k\/":["",1]})").size());
  EXPECT_EQ(parse(written), v);

  // The buffer is reused: a small document after a large one, and after a failed one, is exact.
  EXPECT_EQ(write(Array{"x"}), R"(["x"])");
  EXPECT_FALSE(JSONSerialization::dataWithJSONObject(Array{text, "\xFF"}).ok());
  EXPECT_EQ(write(Dictionary{{"a", Null{}}}), R"({"a":null})");
}

TEST(JSONSerializationTests, EachByteThatNeedsAttentionIsFoundAtEveryPositionOfAString) {
  // The writer checks whole blocks of a string at once and the last bytes one by one: one
  // special piece at every position of strings of every length up to a few blocks.
  const struct {
    const char* piece;
    const char* escaped;            // nullptr: the string cannot be written
    const char* keepingSlashes;     // with WithoutEscapingSlashes
  } kPieces[] = {
      {"/", "\\/", "/"},
      {"\"", "\\\"", "\\\""},
      {"\\", "\\\\", "\\\\"},
      {"\x1f", "\\u001f", "\\u001f"},
      {"\n", "\\n", "\\n"},
      {"\x7f", "\x7f", "\x7f"},
      {"\xC3\xA9", "\xC3\xA9", "\xC3\xA9"},
      {"\xE2\x82\xAC", "\xE2\x82\xAC", "\xE2\x82\xAC"},
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"\xFF", nullptr, nullptr},
      {"\xC3(", nullptr, nullptr},
  };
  for (const auto& piece : kPieces) {
    for (std::size_t length = 0; length <= 40; ++length) {
      for (std::size_t at = 0; at <= length; ++at) {
        const std::string before(at, 'a');
        const std::string after(length - at, 'b');
        const Value v = Array{before + piece.piece + after};
        SCOPED_TRACE(testing::Message() << "piece " << testing::PrintToString(std::string(piece.piece))
                                        << " at " << at << " of " << length);
        if (!piece.escaped) {
          EXPECT_FALSE(JSONSerialization::dataWithJSONObject(v).ok());
          continue;
        }
        EXPECT_EQ(write(v), "[\"" + before + piece.escaped + after + "\"]");
        EXPECT_EQ(write(v, Writing::WithoutEscapingSlashes), "[\"" + before + piece.keepingSlashes + after + "\"]");
      }
    }
  }
  // A multi-byte character cut off by the end of the string.
  EXPECT_FALSE(JSONSerialization::dataWithJSONObject(Array{std::string(17, 'a') + "\xE2\x82"}).ok());
  EXPECT_FALSE(JSONSerialization::dataWithJSONObject(Array{std::string(3, 'a') + "\xC3"}).ok());
}

TEST(JSONSerializationTests, ReadingErrors) {
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"only whitespace", " \n\t"},
      {"only a BOM", "\xEF\xBB\xBF"},
      {"invalid UTF-8 in a string", "[\"\xFF\"]"},
      {"overlong UTF-8", "[\"\xC0\xAF\"]"},
      {"trailing garbage", "[1] x"},
      {"two values", "[1] [2]"},
      {"trailing comma", "[1,]"},
      {"unclosed", "{\"a\": [1, 2}"},
      {"raw control character", "[\"a\x01\"]"},
      {"bad escape", R"(["\q"])"},
      {"leading zero", "[01]"},
      {"bare word", "[nul]"},
      {"single quotes", "['a']"},
      {"key not a string", "{1: 2}"},
      {"NaN literal", "[NaN]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    expectReadError(c.text);
  }
}

TEST(JSONSerializationTests, EmptyInputAsTheFirstDocumentOfAThread) {
  // Each thread keeps its own parser buffers; the first document may find them not yet made.
  std::thread([] {
    expectReadError("");
  }).join();
  std::thread([] {
    expectReadError("\xEF\xBB\xBF");
  }).join();
}

TEST(JSONSerializationTests, DeepNestingIsAnErrorNotACrash) {
  const std::size_t kDeep = 100'000;
  expectReadError(std::string(kDeep, '[') + std::string(kDeep, ']'));
  expectReadError(std::string(kDeep, '['));
  std::string objects;
  for (std::size_t i = 0; i < kDeep; ++i) objects += "{\"a\":";
  expectReadError(objects + "1" + std::string(kDeep, '}'));

  // The limit itself is readable and writable; one level more is refused both ways.
  const std::size_t limit = JSONSerialization::kMaxDepth;
  const Value deepest = parse(std::string(limit, '[') + std::string(limit, ']'));
  EXPECT_TRUE(JSONSerialization::isValidJSONObject(deepest));
  EXPECT_EQ(write(deepest).size(), 2 * limit);
  expectReadError(std::string(limit + 1, '[') + std::string(limit + 1, ']'));
  const Value tooDeep = Array{deepest};
  EXPECT_FALSE(JSONSerialization::isValidJSONObject(tooDeep));
  EXPECT_TRUE(JSONSerialization::dataWithJSONObject(tooDeep).error().is(kCocoaErrorDomain, 3851));
}

TEST(JSONSerializationTests, FragmentsBOMAndDuplicateKeys) {
  expectReadError("5");
  expectReadError("\"text\"");
  EXPECT_EQ(parse("5", Reading::FragmentsAllowed), Value(5));
  EXPECT_EQ(parse(" null ", Reading::FragmentsAllowed), Value(nullptr));
  EXPECT_EQ(parse("\xEF\xBB\xBF[1]"), Value(Array{1}));
  EXPECT_EQ(parse("\xEF\xBB\xBF\"x\"", Reading::FragmentsAllowed), Value("x"));

  const Value d = parse(R"({"b": 1, "a": 2, "b": 3})");
  EXPECT_EQ(d.dictionary()->size(), 2u);
  EXPECT_EQ(d["b"].asInt64(), 3);
  EXPECT_EQ(d.dictionary()->keys(), (std::vector<std::string>{"b", "a"}));

  EXPECT_EQ(JSONSerialization::dataWithJSONObject(Value(5)).error().code(), 3851);
  EXPECT_EQ(write(Value(5), Writing::FragmentsAllowed), "5");
  EXPECT_EQ(write(Value("a/b"), Writing::FragmentsAllowed), R"("a\/b")");
}

TEST(JSONSerializationTests, DictionariesKeepDocumentOrderOrSortWhenAsked) {
  const Value v = parse(R"({"z": 1, "a": {"y": true, "b": null}, "m": []})");
  EXPECT_EQ(write(v), R"({"z":1,"a":{"y":true,"b":null},"m":[]})");
  EXPECT_EQ(write(v, Writing::SortedKeys), R"({"a":{"b":null,"y":true},"m":[],"z":1})");
  EXPECT_EQ(write(v, Writing::SortedKeys | Writing::PrettyPrinted),
            "{\n"
            "  \"a\" : {\n"
            "    \"b\" : null,\n"
            "    \"y\" : true\n"
            "  },\n"
            "  \"m\" : [],\n"
            "  \"z\" : 1\n"
            "}");
  EXPECT_EQ(write(Array{1, Array{2}, Dictionary{}}, Writing::PrettyPrinted), "[\n  1,\n  [\n    2\n  ],\n  {}\n]");
}

TEST(JSONSerializationTests, DoublesUseTheShortestTextThatReadsBackTheSame) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {3.0, "3"}, {0.1, "0.1"}, {-2.5, "-2.5"}, {1e-7, "1e-07"}, {1.0 / 3, "0.3333333333333333"},
      {5e-324, "5e-324"}, {1.7976931348623157e308, "1.7976931348623157e+308"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(write(Array{c.value}), std::string("[") + c.text + "]");
    EXPECT_EQ(parse(write(Array{c.value}))[0].asDouble(), c.value);
  }
  EXPECT_EQ(write(Array{0.1f}), "[0.1]");
}

TEST(JSONSerializationTests, ValuesWithoutAJSONFormAreRefusedWithAnError) {
  const struct {
    const char* name;
    Value value;
  } cases[] = {
      {"NaN", std::nan("")},
      {"infinity", std::numeric_limits<double>::infinity()},
      {"float infinity", -std::numeric_limits<float>::infinity()},
      {"data", Data("x")},
      {"date", Date{}},
      {"URL", *URL::parse("https://example.com/")},
      {"error", Error("d", 1)},
      {"opaque", Opaque{nullptr, "Thing"}},
      {"absent", Value()},
      {"invalid UTF-8", "\xC3("},
      {"invalid UTF-8 key", Dictionary{{"\xFF", 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Value wrapped = Dictionary{{"k", Array{1, c.value}}};
    EXPECT_FALSE(JSONSerialization::isValidJSONObject(wrapped));
    auto result = JSONSerialization::dataWithJSONObject(wrapped);
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(result.error().is(kCocoaErrorDomain, 3851));
  }
  EXPECT_TRUE(JSONSerialization::isValidJSONObject(Dictionary{{"a", Array{nullptr, 1.5, "s", true}}}));
  EXPECT_FALSE(JSONSerialization::isValidJSONObject(Value("top-level string")));
}

}  // namespace
}  // namespace foundation
