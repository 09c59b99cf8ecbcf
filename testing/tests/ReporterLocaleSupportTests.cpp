#include <gtest/gtest.h>

#include <clocale>
#include <ctime>
#include <string>

#include "platform/foundation/Date.h"
#include "platform/foundation/DateFormatting.h"
#include "testing/ScopedLocale.h"

namespace testing_support {
namespace {

std::string localDayAndMonth(std::time_t when) {
  std::tm fields{};
  ::gmtime_r(&when, &fields);
  char text[64] = {};
  std::strftime(text, sizeof text, "%A %B", &fields);
  return text;
}

// Under a German locale the C library names days and months in German; the HTTP dates that the
// reporter reads and writes stay English all the same.
TEST(ReporterLocaleSupportTests, HTTPDatesStayEnglishUnderAGermanLocale) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  {
    ScopedLocale german("de_DE.UTF-8");
    if (!german.active()) GTEST_SKIP() << german.whyNot();
    EXPECT_EQ(localDayAndMonth(1445412480), "Mittwoch Oktober");
    const auto date = foundation::parseHTTPDate("Wed, 21 Oct 2015 07:28:00 GMT");
    ASSERT_TRUE(date);
    EXPECT_EQ(date->timeIntervalSince1970(), 1445412480);
    EXPECT_EQ(foundation::httpDateString(*date), "Wed, 21 Oct 2015 07:28:00 GMT");
    EXPECT_EQ(foundation::parseHTTPDate("Mi, 21 Okt 2015 07:28:00 GMT"), std::nullopt);
  }
  EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before);
}

TEST(ReporterLocaleSupportTests, AnUnknownLocaleIsReportedNotSet) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  ScopedLocale missing("xx_YY.UTF-8");
  EXPECT_FALSE(missing.active());
  EXPECT_NE(missing.whyNot(), "");
  EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before);
}

}  // namespace
}  // namespace testing_support
