#include <gtest/gtest.h>
#include <zlib.h>

#include <stdlib.h>

#include <random>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiError.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "platform/foundation/Error.h"
#include "testing/Gzip.h"

using foundation::Array;
using foundation::Data;
using foundation::Date;
using foundation::Dictionary;
using foundation::Value;

namespace {

std::string randomBytes(std::size_t size) {
  std::mt19937 generator(42);
  std::string bytes(size, '\0');
  for (auto& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
  return bytes;
}

using testing_support::gunzip;

TEST(ReporterFoundationHelpersTests, GzipRoundTripsThroughInflate) {
  struct Case {
    const char* name;
    std::string input;
    std::size_t atMost;  // the compressed size a repetitive input must come under; 0: no bound
  };
  // The window follows the input's size: inputs just past a window step and far past the largest
  // window must still come out whole, and repetitive ones small.
  std::string sentence = "{\"status\":\"exited\",\"errors\":0,\"release\":\"com.morvit.Fendrel@1.0\"}";
  std::string past512;
  while (past512.size() <= 512) past512 += sentence;
  std::string repeated;
  while (repeated.size() < 200'000) repeated += sentence + std::to_string(repeated.size() % 7);
  const Case cases[] = {{"five bytes", "hello", 0},
                        {"just past 512 bytes", past512, past512.size() / 3},
                        {"200 KB repetitive", repeated, repeated.size() / 20},
                        {"1 MiB random", randomBytes(1 << 20), 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    foundation::Error error("none", 0);
    auto zipped = dozidi_gzippedWithCompressionLevel(Data(c.input), -1, &error);
    ASSERT_TRUE(zipped.has_value());
    ASSERT_GE(zipped->size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(zipped->bytes()[0]), 0x1f);
    EXPECT_EQ(static_cast<unsigned char>(zipped->bytes()[1]), 0x8b);
    EXPECT_EQ(gunzip(zipped->bytes()), c.input);
    if (c.atMost != 0) EXPECT_LE(zipped->size(), c.atMost);
  }
}

TEST(ReporterFoundationHelpersTests, GzipOfEmptyDataIsEmptyAndBadLevelIsCompressionError) {
  foundation::Error error("none", 0);
  auto empty = dozidi_gzippedWithCompressionLevel(Data(), -1, &error);
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());
  EXPECT_EQ(error.domain(), "none");

  EXPECT_FALSE(dozidi_gzippedWithCompressionLevel(Data("abc"), 42, &error).has_value());
  EXPECT_TRUE(error.is(kDozidiErrorDomain, 103));
  EXPECT_EQ(error.localizedDescription(), "deflateInit2 error");
  EXPECT_FALSE(dozidi_gzippedWithCompressionLevel(Data("abc"), 42, nullptr).has_value());
}

TEST(ReporterFoundationHelpersTests, NullTerminatedAppendsOneZeroByte) {
  EXPECT_EQ(dozidi_nullTerminated(Data("ab")), Data(std::string("ab\0", 3)));
  EXPECT_EQ(dozidi_nullTerminated(std::nullopt), std::nullopt);
}

TEST(ReporterFoundationHelpersTests, SanitizeMakesUserDataJSONSafe) {
  const Date wholeSecond = Date::fromTimeIntervalSince1970(1'700'000'000);
  struct Case {
    const char* name;
    Dictionary input;
    Dictionary expected;
  };
  const Case cases[] = {
      {"reserved key dropped, date as text", Dictionary{{"__dozidi_x", 1}, {"when", wholeSecond}},
       Dictionary{{"when", "2023-11-14T22:13:20.000Z"}}},
      {"strings, numbers and bools kept", Dictionary{{"s", "x"}, {"i", -3}, {"d", 1.5}, {"b", false}},
       Dictionary{{"s", "x"}, {"i", -3}, {"d", 1.5}, {"b", false}}},
      {"nested containers sanitised, arrays keep reserved-looking texts",
       Dictionary{{"d", Dictionary{{"__dozidi", 1}, {"t", wholeSecond}}}, {"a", Array{wholeSecond, "__dozidi"}}},
       Dictionary{{"d", Dictionary{{"t", "2023-11-14T22:13:20.000Z"}}},
                  {"a", Array{"2023-11-14T22:13:20.000Z", "__dozidi"}}}},
      {"other values become their description", Dictionary{{"n", nullptr}, {"data", Data("x")}},
       Dictionary{{"n", Value(nullptr).description()}, {"data", Value(Data("x")).description()}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(dozidi_sanitize(c.input), c.expected);
  }
}

TEST(ReporterFoundationHelpersTests, IsoDatesWriteMillisecondsAndReadBothForms) {
  const Date base = Date::fromTimeIntervalSince1970(1'700'000'000);
  EXPECT_EQ(dozidi_toIso8601String(base.addingTimeInterval(0.25)), "2023-11-14T22:13:20.250Z");
  struct Case {
    const char* text;
    std::optional<Date> expected;
  };
  const Case cases[] = {
      {"2023-11-14T22:13:20.250Z", base.addingTimeInterval(0.25)},
      {"2023-11-14T22:13:20Z", base},
      {"2023-11-14 22:13:20Z", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(dozidi_fromIso8601String(c.text), c.expected);
  }
}

TEST(ReporterFoundationHelpersTests, MergeIsDeepForDictionariesAndReplacesOtherwise) {
  struct Case {
    const char* name;
    Dictionary receiver;
    Dictionary other;
    Dictionary expected;
  };
  const Case cases[] = {
      {"dictionaries merged", Dictionary{{"a", Dictionary{{"c", 1}}}, {"d", 2}},
       Dictionary{{"a", Dictionary{{"b", 3}}}}, Dictionary{{"a", Dictionary{{"c", 1}, {"b", 3}}}, {"d", 2}}},
      {"two levels deep", Dictionary{{"a", Dictionary{{"x", Dictionary{{"y", 1}}}}}},
       Dictionary{{"a", Dictionary{{"x", Dictionary{{"z", 2}}}}}},
       Dictionary{{"a", Dictionary{{"x", Dictionary{{"y", 1}, {"z", 2}}}}}}},
      {"number replaces dictionary", Dictionary{{"a", Dictionary{{"c", 1}}}}, Dictionary{{"a", 5}},
       Dictionary{{"a", 5}}},
      {"dictionary replaces number", Dictionary{{"a", 5}}, Dictionary{{"a", Dictionary{{"b", 1}}}},
       Dictionary{{"a", Dictionary{{"b", 1}}}}},
      {"new key added", Dictionary{}, Dictionary{{"k", "v"}}, Dictionary{{"k", "v"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Dictionary receiver = c.receiver;
    const Dictionary before = c.receiver;
    mergeEntriesFromDictionary(receiver, c.other);
    EXPECT_EQ(receiver, c.expected);
    EXPECT_EQ(c.receiver, before);  // copies share storage until changed: the source stays as it was
  }
}

TEST(ReporterFoundationHelpersTests, ByteCountsRoundDownWithGroupedDigits) {
  constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;
  struct Case {
    std::uint64_t bytes;
    const char* expected;
  };
  const Case cases[] = {{0, "0 bytes"},      {1023, "1,023 bytes"}, {1024, "1 KB"},
                        {1536, "1 KB"},      {5 * kGiB, "5 GB"},    {2048 * kGiB, "2,048 GB"},
                        {1024 * 1024 - 1, "1,023 KB"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(DozidiByteCountFormatter::bytesCountDescription(c.bytes), c.expected);
  }
}

TEST(ReporterFoundationHelpersTests, TimeFormatOfThePosixLocaleAndOfMissingLocalesIs24Hour) {
  const char* previous = getenv("LC_ALL");
  const std::string saved = previous ? previous : "";
  for (const char* locale : {"C", "xx_NOWHERE.UTF-8"}) {
    SCOPED_TRACE(locale);
    setenv("LC_ALL", locale, 1);
    EXPECT_TRUE(dozidi_timeIs24HourFormat());
  }
  if (previous) {
    setenv("LC_ALL", saved.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
}

}  // namespace
