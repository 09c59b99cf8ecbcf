// Span ids, span contexts, span records and the do-nothing span.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "PerformanceTestKit.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiNoOpSpan.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanRecord.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTraceHeader.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"

namespace {

using foundation::Dictionary;
using performance_test::ScopedTestClock;

std::set<std::string> keysOf(const Dictionary& dictionary) {
  std::set<std::string> keys;
  for (const auto& [key, value] : dictionary) keys.insert(key);
  return keys;
}

TEST(PerformanceSpanTests, SpanIdsKeepSixteenLowerCaseDigitsOrAreEmpty) {
  struct Case {
    const char* name;
    DozidiSpanId id;
    const char* expected;
  };
  const Case cases[] = {
      {"upper case is lowered", DozidiSpanId::initWithValue("ABCDEF0123456789"), "abcdef0123456789"},
      {"15 characters", DozidiSpanId::initWithValue("abcdef012345678"), "0000000000000000"},
      {"17 characters", DozidiSpanId::initWithValue("abcdef01234567890"), "0000000000000000"},
      {"from a UUID", DozidiSpanId::initWithUUID(*foundation::UUID::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F")),
       "e621e1f8c36c495a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.id.value(), c.expected);
  }
  EXPECT_EQ(DozidiSpanId::initWithValue("short"), DozidiSpanId::empty());
  const DozidiSpanId fresh;
  EXPECT_EQ(fresh.value().size(), 16u);
  EXPECT_EQ(fresh.value().find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(fresh, DozidiSpanId());
  EXPECT_EQ(DozidiSpanId::initWithValue(fresh.value()), fresh) << "equal by value";
}

TEST(PerformanceSpanTests, StatusAndDecisionNames) {
  const std::pair<std::uint64_t, const char*> statuses[] = {
      {0, "undefined"}, {1, "ok"}, {2, "deadline_exceeded"}, {12, "cancelled"}, {17, "data_loss"},
      {18, "undefined"}, {99, "undefined"}};
  for (const auto& [value, name] : statuses) {
    SCOPED_TRACE(value);
    EXPECT_STREQ(nameForDozidiSpanStatus(static_cast<DozidiSpanStatus>(value)), name);
  }
  const std::pair<std::int64_t, const char*> decisions[] = {{0, "undecided"}, {1, "true"}, {2, "false"}, {7, "undecided"}};
  for (const auto& [value, name] : decisions) {
    SCOPED_TRACE(value);
    EXPECT_STREQ(nameForDozidiSampleDecision(static_cast<DozidiSampleDecision>(value)), name);
  }
}

TEST(PerformanceSpanTests, ContextSerializesOnlyTheKeysThatAreSet) {
  auto minimal = DozidiSpanContext::initWithOperation("ui.load");
  const auto plain = minimal->serialize();
  EXPECT_EQ(keysOf(plain), (std::set<std::string>{"type", "span_id", "trace_id", "op"}));
  EXPECT_EQ(plain["type"].asString(), "trace");
  EXPECT_EQ(plain["op"].asString(), "ui.load");
  EXPECT_EQ(plain["trace_id"].asString()->size(), 32u);

  minimal->setTagValue("v", "k");
  EXPECT_EQ(keysOf(minimal->serialize()), (std::set<std::string>{"type", "span_id", "trace_id", "op", "tags"}));
  minimal->setTagValue(std::nullopt, "k");
  EXPECT_EQ(keysOf(minimal->serialize()).count("tags"), 0u) << "a none value removes the tag";

  const auto parent = DozidiSpanId::initWithValue("1111111111111111");
  auto full = DozidiSpanContext::initWithTraceId(DozidiId(), DozidiSpanId(), parent, "db", DozidiSampleDecision::No);
  full->setSpanDescription("select");
  full->setStatus(static_cast<DozidiSpanStatus>(99));
  const auto all = full->serialize();
  EXPECT_EQ(keysOf(all), (std::set<std::string>{"type", "span_id", "trace_id", "op", "sampled", "description",
                                                 "parent_span_id", "status"}));
  EXPECT_EQ(all["sampled"].asString(), "false");
  EXPECT_EQ(all["parent_span_id"].asString(), "1111111111111111");
  EXPECT_EQ(all["status"].asString(), "undefined");
}

TEST(PerformanceSpanTests, SpanSerializationLaysOwnTagsOverTheContextsAndKeepsEarlyEndTimes) {
  ScopedTestClock clock;
  auto tracer = DozidiTracer::initWithTransactionContext(DozidiTransactionContext::initWithName("t", "op"), nullptr);
  auto child = std::dynamic_pointer_cast<DozidiSpanRecord>(tracer->startChildWithOperation("child", "desc"));
  ASSERT_TRUE(child);
  child->context()->setTagValue("0", "a");
  child->context()->setTagValue("2", "b");
  child->setTagValue("1", "a");
  child->setDataValue(foundation::Value(foundation::Date::fromTimeIntervalSince1970(0)), "when");

  auto unfinished = child->serialize();
  EXPECT_EQ(unfinished["timestamp"].asDouble(), 0.0);
  EXPECT_EQ(unfinished["tags"], foundation::Value(Dictionary{{"a", "1"}, {"b", "2"}}));
  EXPECT_TRUE(unfinished["data"]["when"].asString()) << "data is made JSON-safe";

  const double start = unfinished["start_timestamp"].asDouble().value_or(0);
  EXPECT_EQ(start, performance_test::TestCurrentDateProvider::kStart);

  // An end set beforehand stays; finishing again changes only the status.
  const auto presetEnd = foundation::Date::fromTimeIntervalSince1970(start + 0.5);
  child->setTimestamp(presetEnd);
  clock->advance(3);
  child->finish();
  EXPECT_TRUE(child->isFinished());
  EXPECT_EQ(child->timestamp(), presetEnd);
  child->finishWithStatus(DozidiSpanStatus::Cancelled);
  EXPECT_EQ(child->timestamp(), presetEnd);
  EXPECT_EQ(child->serialize()["status"].asString(), "cancelled");

  auto other = std::dynamic_pointer_cast<DozidiSpanRecord>(tracer->startChildWithOperation("other"));
  other->finish();
  EXPECT_EQ(other->timestamp()->timeIntervalSince1970(), start + 3) << "no preset end: the clock's date";
}

TEST(PerformanceSpanTests, SpansOfAReleasedTracerDegradeToTheNoOpSpan) {
  std::shared_ptr<DozidiSpan> orphan;
  {
    auto tracer = DozidiTracer::initWithTransactionContext(DozidiTransactionContext::initWithName("t", "op"), nullptr);
    orphan = tracer->startChildWithOperation("child");
  }
  orphan->setMeasurement("m", foundation::Number::fromInt64(1));  // dropped, no crash
  auto grandchild = orphan->startChildWithOperation("grandchild");
  EXPECT_EQ(grandchild, DozidiNoOpSpan::shared());
  EXPECT_TRUE(grandchild->serialize().empty());
  grandchild->finish();
  EXPECT_FALSE(grandchild->isFinished());
  EXPECT_FALSE(grandchild->data());
  EXPECT_EQ(grandchild->toTraceHeader().value(), DozidiId::empty().dozidiIdString() + "-0000000000000000");
  orphan->finish();  // tells no tracer, no crash
  EXPECT_TRUE(orphan->isFinished());
}

}  // namespace
