#include "platform/foundation/DateFormatting.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

namespace foundation {
namespace {

Date since1970(double seconds) { return Date::fromTimeIntervalSince1970(seconds); }

TEST(DateFormattingTests, ISO8601WritesUTCWithTruncatedMilliseconds) {
  const struct {
    double seconds;
    const char* text;
  } cases[] = {
      {0, "1970-01-01T00:00:00.000Z"},
      {1709622489.1239, "2024-03-05T07:08:09.123Z"},
      {1709622489.9999, "2024-03-05T07:08:09.999Z"},
      {951782400, "2000-02-29T00:00:00.000Z"},
      {-0.0005, "1969-12-31T23:59:59.999Z"},  // before 1970 the millisecond is floored
      {-1.5, "1969-12-31T23:59:58.500Z"},
      {-2208988800, "1900-01-01T00:00:00.000Z"},
      {253402300799.9995, "9999-12-31T23:59:59.999Z"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(iso8601String(since1970(c.seconds)), c.text);
  }
  EXPECT_EQ(iso8601String(Date::referenceDate()), "2001-01-01T00:00:00.000Z");
  EXPECT_EQ(iso8601String(Date{std::nan("")}), "");
  EXPECT_EQ(iso8601String(Date{std::numeric_limits<double>::infinity()}), "");
}

TEST(DateFormattingTests, ISO8601ReadsWithAndWithoutMillisecondsStrictly) {
  EXPECT_NEAR(parseISO8601Date("2024-03-05T07:08:09.123Z")->timeIntervalSince1970(), 1709622489.123, 1e-6);
  EXPECT_EQ(parseISO8601Date("2024-03-05T07:08:09Z")->timeIntervalSince1970(), 1709622489.0);
  EXPECT_NEAR(parseISO8601Date("1969-12-31T23:59:59.999Z")->timeIntervalSince1970(), -0.001, 1e-6);
  EXPECT_EQ(parseISO8601Date("2000-02-29T00:00:00Z")->timeIntervalSince1970(), 951782400.0);
  for (const char* text : {"2024-03-05T07:08:09.123Z", "1969-12-31T23:59:59.999Z", "0001-01-01T00:00:00.001Z",
                           "9999-12-31T23:59:59.999Z"}) {
    EXPECT_EQ(iso8601String(*parseISO8601Date(text)), text);
  }
  for (const char* bad : {"", "2024-03-05", "2024-03-05T07:08:09", "2024-03-05T07:08:09.12Z",
                          "2024-03-05T07:08:09.1234Z", "2024-03-05 07:08:09Z", "2024-3-05T07:08:09Z",
                          "2024-13-05T07:08:09Z", "2023-02-29T00:00:00Z", "2024-03-05T24:00:00Z",
                          "2024-03-05T07:60:09Z", "2024-03-05T07:08:60Z", "2024-03-05T07:08:09+01:00",
                          "2024-03-05T07:08:09.123Z ", " 2024-03-05T07:08:09Z", "2024-03-00T07:08:09Z"}) {
    EXPECT_EQ(parseISO8601Date(bad), std::nullopt) << bad;
  }
  const Date now = since1970(1709622489.5);
  EXPECT_EQ(parseISO8601Date(iso8601String(now)), now);
}

// Sets a non-English locale for the test when the machine has one, so that the HTTP dates show
// they do not depend on it; otherwise the "C" locale.
class LocaleScope {
 public:
  LocaleScope() {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    previous_ = previous ? previous : "C";
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "es_ES.UTF-8", "ja_JP.UTF-8", "C"}) {
      if (std::setlocale(LC_ALL, name)) break;
    }
  }
  ~LocaleScope() { std::setlocale(LC_ALL, previous_.c_str()); }

 private:
  std::string previous_;
};

TEST(DateFormattingTests, HTTPDatesAreEnglishWhateverTheLocale) {
  LocaleScope locale;
  const struct {
    double seconds;
    const char* text;
  } cases[] = {
      {784111777, "Sun, 06 Nov 1994 08:49:37 GMT"},
      {1709622489, "Tue, 05 Mar 2024 07:08:09 GMT"},
      {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
      {-1, "Wed, 31 Dec 1969 23:59:59 GMT"},
      {951868800, "Wed, 01 Mar 2000 00:00:00 GMT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(httpDateString(since1970(c.seconds)), c.text);
    ASSERT_TRUE(parseHTTPDate(c.text));
    EXPECT_EQ(parseHTTPDate(c.text)->timeIntervalSince1970(), c.seconds);
  }
  EXPECT_EQ(httpDateString(since1970(784111777.9)), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(parseHTTPDate("Sun, 6 Nov 1994 08:49:37 GMT")->timeIntervalSince1970(), 784111777);
  EXPECT_EQ(parseHTTPDate("Sun, 06 Nov 1994 08:49:37 UTC")->timeIntervalSince1970(), 784111777);
  for (const char* bad : {"", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994",
                          "So, 06 Nov 1994 08:49:37 GMT", "Sun, 06 Okt 1994 08:49:37 GMT",
                          "Sun, 06 nov 1994 08:49:37 GMT", "Sun, 31 Nov 1994 08:49:37 GMT",
                          "Sun, 06 Nov 1994 08:49:37", "Sun, 06 Nov 1994 08:49:37 +0100",
                          "Sun, 06 Nov 1994 08:49:37 GMT x", "Sun, 06 Nov 94 08:49:37 GMT"}) {
    EXPECT_EQ(parseHTTPDate(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace foundation
