#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "JSONText.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiClientReport.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiRateLimits.h"
#include "platform/foundation/HTTPHeaderFields.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/URLResponse.h"
#include "testing/ScopedLocale.h"
#include "testing/ScopedManualClock.h"

using foundation::Data;

namespace {

using Category = DozidiDataCategory;

foundation::HTTPURLResponse response(int status, std::vector<std::pair<std::string, std::string>> headers) {
  foundation::HTTPHeaderFields fields;
  for (auto& [name, value] : headers) fields.set(name, value);
  return foundation::HTTPURLResponse(*foundation::URL::parse("http://127.0.0.1/api/1/envelope/"), status, fields);
}

std::shared_ptr<DozidiDefaultRateLimits> makeLimits() {
  return std::make_shared<DozidiDefaultRateLimits>(DozidiRetryAfterHeaderParser(DozidiHttpDateParser()),
                                                   DozidiRateLimitParser());
}

TEST(ReporterRateLimitTests, NamesAndCategoryMappings) {
  EXPECT_EQ(nameForDozidiDataCategory(Category::All), "");
  EXPECT_EQ(nameForDozidiDataCategory(Category::UserFeedback), "user_report");
  EXPECT_EQ(nameForDozidiDataCategory(static_cast<Category>(9)), "");
  EXPECT_EQ(nameForDozidiDiscardReason(DozidiDiscardReason::RateLimitBackoff), "ratelimit_backoff");
  EXPECT_EQ(nameForDozidiDiscardReason(static_cast<DozidiDiscardReason>(7)), "before_send");
  EXPECT_EQ(dozidiDataCategoryForString(""), Category::All);
  EXPECT_EQ(dozidiDataCategoryForString("profile"), Category::Profile);
  EXPECT_EQ(dozidiDataCategoryForString("Error"), Category::Unknown);
  EXPECT_EQ(dozidiDataCategoryForNSUInteger(7), Category::Profile);
  EXPECT_EQ(dozidiDataCategoryForNSUInteger(8000), Category::Unknown);
  const std::map<std::string, Category> itemTypes = {
      {"event", Category::Error},          {"session", Category::Session},        {"transaction", Category::Transaction},
      {"attachment", Category::Attachment}, {"profile", Category::Profile},       {"user_report", Category::Default},
      {"client_report", Category::Default}, {"anything", Category::Default}};
  for (const auto& [type, category] : itemTypes) {
    SCOPED_TRACE(type);
    EXPECT_EQ(dozidiDataCategoryForEnvelopeItemType(type), category);
  }
}

TEST(ReporterRateLimitTests, DecisionTableOnTheReportersClock) {
  struct Step {
    const char* name;
    double advance;
    std::function<void(DozidiDefaultRateLimits&)> answer;
    std::vector<Category> limited;
    std::vector<Category> free;
  };
  const auto update = [](int status, std::vector<std::pair<std::string, std::string>> headers) {
    return [=](DozidiDefaultRateLimits& limits) { limits.update(response(status, headers)); };
  };
  const auto nothing = [](DozidiDefaultRateLimits&) {};
  const Step steps[] = {
      {"no answer yet", 0, nothing, {}, {Category::Error, Category::Session}},
      {"200 with the header, any case", 0,
       update(200, {{"x-dozidi-rate-limits", "60:error;transaction:org, 2700:transaction"}}),
       {Category::Error, Category::Transaction}, {Category::Session, Category::Default}},
      {"a 500 without headers changes nothing", 10, update(500, {}), {Category::Error}, {Category::Session}},
      {"error until exactly 60 s is over: equal is not in the future", 50, nothing, {Category::Transaction},
       {Category::Error}},
      {"a shorter limit never shortens a longer one", 0, update(200, {{"X-Dozidi-Rate-Limits", "10:transaction"}}),
       {Category::Transaction}, {Category::Error}},
      {"user_report entries and unknown names limit nothing", 0,
       update(200, {{"X-Dozidi-Rate-Limits", "100:user_report;bogus"}}), {}, {Category::UserFeedback, Category::Unknown}},
      {"a limit on default covers feedback and client reports", 0,
       update(200, {{"X-Dozidi-Rate-Limits", "100:default"}}), {Category::Default}, {Category::Error}},
      {"429 without Retry-After limits everything for 60 s", 0, update(429, {}),
       {Category::Session, Category::Error, Category::Profile}, {}},
      {"60 s later everything but the longer limits is free", 60, nothing, {Category::Default, Category::Transaction},
       {Category::Error, Category::Session}},
      {"429 with seconds", 0, update(429, {{"Retry-After", "120"}}), {Category::Session}, {}},
      {"119 s later still limited", 119, nothing, {Category::Attachment}, {}},
      {"120 s later free", 1, nothing, {Category::Transaction}, {Category::Attachment}},
      {"429 with both headers reads only the rate-limit header", 0,
       update(429, {{"Retry-After", "1000"}, {"X-Dozidi-Rate-Limits", "5:session"}}), {Category::Session},
       {Category::Error}},
      {"429 with a past HTTP date sets no active limit", 5,
       update(429, {{"Retry-After", "Wed, 21 Oct 2015 07:28:00 GMT"}}), {}, {Category::Error, Category::Session}},
      {"an empty category field limits all", 0, update(200, {{"X-Dozidi-Rate-Limits", "30::org"}}),
       {Category::Session, Category::Error}, {}},
  };
  testing_support::ScopedManualClock clock;
  auto limits = makeLimits();
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    clock->advance(step.advance);
    step.answer(*limits);
    for (auto category : step.limited) EXPECT_TRUE(limits->isRateLimitActive(category)) << int(category);
    for (auto category : step.free) EXPECT_FALSE(limits->isRateLimitActive(category)) << int(category);
  }
}

TEST(ReporterRateLimitTests, HeaderParsersComputeDatesFromTheClock) {
  testing_support::ScopedManualClock clock;
  const auto now = foundation::Date::now();
  const DozidiRateLimitParser parser;
  struct Case {
    const char* header;
    std::map<Category, double> seconds;
  };
  const Case cases[] = {
      {"", {}},
      {"60:transaction, 2700:transaction", {{Category::Transaction, 2700}}},
      {"2700:transaction,60:transaction", {{Category::Transaction, 2700}}},
      {"0:error, -5:error, x:error, :error", {}},
      {" 3 0 : e r r o r ;\nsession : org", {{Category::Error, 30}, {Category::Session, 30}}},
      {"45", {{Category::All, 45}}},
      {"10:;error", {{Category::All, 10}, {Category::Error, 10}}},
      {"60:user_report, 60:wrong;Error", {}},
      {"90:session:organization:quota_exceeded:extra", {{Category::Session, 90}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    std::map<Category, foundation::Date> expected;
    for (const auto& [category, seconds] : c.seconds) expected[category] = now.addingTimeInterval(seconds);
    EXPECT_EQ(parser.parse(c.header), expected);
  }

  const DozidiRetryAfterHeaderParser retryAfter{DozidiHttpDateParser()};
  EXPECT_EQ(retryAfter.parse("120"), now.addingTimeInterval(120));
  EXPECT_EQ(retryAfter.parse("  -3"), now.addingTimeInterval(-3));
  EXPECT_EQ(retryAfter.parse("Wed, 21 Oct 2015 07:28:00 GMT"), foundation::Date::fromTimeIntervalSince1970(1445412480));
  for (const char* nothing : {"0", "", "soon", "Wednesday"}) {
    SCOPED_TRACE(nothing);
    EXPECT_EQ(retryAfter.parse(std::string(nothing)), std::nullopt);
  }
  EXPECT_EQ(retryAfter.parse(std::nullopt), std::nullopt);
}

// Day and month names of HTTP dates are English whatever the user's language.
TEST(ReporterRateLimitTests, HttpDatesParseUnderAGermanLocale) {
  testing_support::ScopedLocale german("de_DE.UTF-8");
  if (!german.active()) GTEST_SKIP() << german.whyNot();
  const DozidiRetryAfterHeaderParser retryAfter{DozidiHttpDateParser()};
  EXPECT_EQ(retryAfter.parse("Wed, 21 Oct 2015 07:28:00 GMT"), foundation::Date::fromTimeIntervalSince1970(1445412480));
  EXPECT_EQ(retryAfter.parse("Mi, 21 Okt 2015 07:28:00 GMT"), std::nullopt);
}

struct Dropped : DozidiEnvelopeRateLimitDelegate {
  std::vector<Category> categories;
  void envelopeItemDropped(Category category) override { categories.push_back(category); }
};

TEST(ReporterRateLimitTests, LimitedItemsLeaveTheEnvelopeAndAreReported) {
  testing_support::ScopedManualClock clock;
  auto limits = makeLimits();
  DozidiEnvelopeRateLimit rateLimit(limits);
  auto delegate = std::make_shared<Dropped>();
  rateLimit.setDelegate(delegate);
  const auto item = [](const char* type) {
    return std::make_shared<const DozidiEnvelopeItem>(DozidiEnvelopeItemHeader{type, 0, {}, {}}, Data());
  };
  auto envelope = DozidiEnvelope::initWithId(DozidiId(), {item("event"), item("session"), item("user_report")});

  EXPECT_EQ(rateLimit.removeRateLimitedItems(envelope), envelope);
  EXPECT_EQ(rateLimit.removeRateLimitedItems(nullptr), nullptr);

  limits->updateRateLimit(Category::Default, foundation::Date::now().addingTimeInterval(10));
  limits->updateRateLimit(Category::Error, foundation::Date::now().addingTimeInterval(10));
  auto kept = rateLimit.removeRateLimitedItems(envelope);
  ASSERT_NE(kept, envelope);
  EXPECT_EQ(kept->header().eventId(), envelope->header().eventId());
  ASSERT_EQ(kept->items().size(), 1u);
  EXPECT_EQ(kept->items()[0]->header().type, "session");
  EXPECT_EQ(delegate->categories, (std::vector{Category::Error, Category::Default}));

  limits->updateRateLimit(Category::All, foundation::Date::now().addingTimeInterval(10));
  EXPECT_TRUE(rateLimit.removeRateLimitedItems(envelope)->items().empty());
}

TEST(ReporterRateLimitTests, ClientReportJSON) {
  testing_support::ScopedManualClock clock;
  clock->setWallTime(1'700'000'000.5);
  const DozidiClientReport report({DozidiDiscardedEvent(DozidiDiscardReason::RateLimitBackoff, Category::Error, 1),
                                   DozidiDiscardedEvent(DozidiDiscardReason::NetworkError, Category::All, 3)});
  EXPECT_JSON_EQ(report.serialize(), R"({"timestamp":1700000000.5,"discarded_events":[
      {"reason":"ratelimit_backoff","category":"error","quantity":1},
      {"reason":"network_error","category":"","quantity":3}]})");
  EXPECT_JSON_EQ(DozidiClientReport({}).serialize(), R"({"timestamp":1700000000.5,"discarded_events":[]})");
}

TEST(ReporterRateLimitTests, DateUtilPicksTheLaterDate) {
  const auto early = foundation::Date::fromTimeIntervalSince1970(1);
  const auto late = foundation::Date::fromTimeIntervalSince1970(2);
  EXPECT_EQ(DozidiDateUtil::getMaximumDate(std::nullopt, std::nullopt), std::nullopt);
  EXPECT_EQ(DozidiDateUtil::getMaximumDate(early, std::nullopt), early);
  EXPECT_EQ(DozidiDateUtil::getMaximumDate(std::nullopt, late), late);
  EXPECT_EQ(DozidiDateUtil::getMaximumDate(late, early), late);
  EXPECT_EQ(DozidiDateUtil::getMaximumDate(early, late), late);
  EXPECT_FALSE(DozidiDateUtil::isInFuture(std::nullopt));
}

}  // namespace
