#include <gtest/gtest.h>

#include <string>

#include "IOTracingFixture.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanRecord.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiCoreDataTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiCoreDataTrackingIntegration.h"
#include "platform/coredata/NSManagedObjectContext.h"
#include "platform/foundation/Error.h"

namespace {

using coredata::NSComparisonPredicate;
using coredata::NSCompoundPredicate;
using coredata::NSExpression;
using coredata::NSFetchRequest;
using coredata::NSPredicate;
using foundation::Dictionary;
using foundation::Error;
using foundation::Value;
using Op = coredata::NSPredicateOperatorType;

std::shared_ptr<const NSPredicate> cmp(const char* key, Op op, Value value) {
  return NSComparisonPredicate::withKeyPath(key, op, std::move(value));
}

TEST(PerformancePredicateDescriptionTests, DescriptionsHideConstants) {
  auto nameAndAge = NSCompoundPredicate::andPredicateWithSubpredicates(
      {cmp("name", Op::EqualTo, "Bob"), cmp("age", Op::GreaterThan, 30)});
  auto ternary = std::make_shared<NSComparisonPredicate>(
      NSExpression::expressionForConditional(cmp("age", Op::LessThan, 18), NSExpression::expressionForKeyPath("a"),
                                             NSExpression::expressionForConstantValue(1)),
      NSExpression::expressionForConstantValue(2), Op::EqualTo);
  struct Case {
    const char* name;
    std::shared_ptr<const NSPredicate> predicate;
    const char* expected;
  };
  const Case cases[] = {
      {"and of comparisons", nameAndAge, "name == %@ AND age > %@"},
      {"not", NSCompoundPredicate::notPredicateWithSubpredicate(cmp("a", Op::EqualTo, 1)), "NOT a == %@"},
      {"nested compound in parentheses",
       NSCompoundPredicate::orPredicateWithSubpredicates({nameAndAge, cmp("c", Op::BeginsWith, "x")}),
       "(name == %@ AND age > %@) OR c BEGINSWITH %@"},
      {"aggregate", cmp("name", Op::In, foundation::Array{"a", "b"}), "name IN {%@, %@}"},
      {"between and contains", NSCompoundPredicate::andPredicateWithSubpredicates(
                                   {cmp("x", Op::Between, foundation::Array{1, 2}), cmp("t", Op::Contains, "q")}),
       "x BETWEEN {%@, %@} AND t CONTAINS %@"},
      {"conditional", ternary, "TERNARY(age < %@,a,%@) == %@"},
      {"custom selector", cmp("a", Op::CustomSelector, 1), "<COMPARISON NOT SUPPORTED>"},
      {"other predicate", NSPredicate::truePredicate(), "<UNKNOWN PREDICATE>"},
  };
  DozidiPredicateDescriptor descriptor;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(descriptor.predicateDescription(c.predicate), c.expected);
  }
}

class PerformanceCoreDataTests : public performance_test::IOTracingFixture<DozidiCoreDataTrackingIntegration> {
 protected:
  void SetUp() override {
    IOTracingFixture::SetUp();
    install(&DozidiOptions::enableCoreDataTracking);
    auto opened = coredata::NSManagedObjectContext::openStore(":memory:");
    ASSERT_TRUE(opened.ok());
    context = *opened;
  }

  // Through the method table, where the integration's replacements hand them to the tracker.
  std::optional<coredata::ManagedObjects> fetch(const NSFetchRequest& request, Error* error) {
    return context->executeFetchRequest(request, error);
  }
  bool save(Error* error) { return context->save(error); }

  DozidiCoreDataTracker tracker;
  std::shared_ptr<coredata::NSManagedObjectContext> context;
};

TEST_F(PerformanceCoreDataTests, SaveAndFetchAreSpansWithTheirSummaries) {
  auto transaction = bindTransaction();
  for (const char* name : {"Bob", "Ann"}) {
    auto person = context->insertNewObject("Person");
    person->setValue(name, "name");
    person->setValue(40, "age");
  }
  auto existing = context->insertNewObject("Person");
  auto car = context->insertNewObject("Car");
  ASSERT_TRUE(context->saveToStore(nullptr));
  existing->setValue("Cleo", "name");
  car->setValue("red", "color");
  ASSERT_TRUE(transaction->children().empty());  // the save above went around the table

  ASSERT_TRUE(save(nullptr));
  ASSERT_EQ(transaction->children().size(), 1u);
  auto saveSpan = transaction->children()[0];
  EXPECT_EQ(saveSpan->context()->operation(), "db.sql.transaction");
  EXPECT_EQ(saveSpan->context()->spanDescription(), "UPDATED 2 items");
  EXPECT_EQ((*saveSpan->data())["operations"],
            Value(Dictionary{{"UPDATED", Dictionary{{"Person", 1}, {"Car", 1}}}}));
  EXPECT_EQ(saveSpan->context()->status(), DozidiSpanStatus::Ok);

  context->insertNewObject("Person")->setValue("Dan", "name");
  context->insertNewObject("Person")->setValue("Eve", "name");
  context->deleteObject(car);
  EXPECT_EQ(DozidiCoreDataTracker::descriptionForOperations(DozidiCoreDataTracker::groupEntitiesOperations(*context)),
            "INSERTED 2 'Person', DELETED 1 'Car'");
  ASSERT_TRUE(save(nullptr));

  NSFetchRequest request{"Person",
                         NSCompoundPredicate::andPredicateWithSubpredicates(
                             {cmp("name", Op::NotEqualTo, "Bob"), cmp("age", Op::GreaterThan, 30)}),
                         {{"age", false}, {"name", true}}};
  auto people = fetch(request, nullptr);
  ASSERT_TRUE(people.has_value());
  ASSERT_EQ(people->size(), 1u);
  EXPECT_EQ((*people)[0]->valueForKey("name"), Value("Ann"));
  auto fetchSpan = transaction->children().back();
  EXPECT_EQ(fetchSpan->context()->operation(), "db.sql.query");
  EXPECT_EQ(fetchSpan->context()->spanDescription(),
            "SELECT 'Person' WHERE name != %@ AND age > %@ SORT BY age DESCENDING, name");
  EXPECT_EQ((*fetchSpan->data())["read_count"], Value(std::int64_t{1}));
  EXPECT_EQ(fetchSpan->context()->status(), DozidiSpanStatus::Ok);
}

TEST_F(PerformanceCoreDataTests, FailuresAndCallsWithoutASpanOrChanges) {
  // Without a bound transaction the fetch runs and makes no span.
  auto all = fetch({"Person", nullptr, {}}, nullptr);
  EXPECT_TRUE(all.has_value());

  auto transaction = bindTransaction();
  // A save without changes runs and makes no span.
  int saves = 0;
  EXPECT_TRUE(tracker.managedObjectContext(*context, nullptr, [&](Error*) { return ++saves, true; }));
  EXPECT_EQ(saves, 1);
  EXPECT_TRUE(transaction->children().empty());

  Error error("", 0);
  auto failed = tracker.managedObjectContext(*context, NSFetchRequest{"Person", nullptr, {}}, &error, [](Error* e) {
    *e = Error("test", 7);
    return std::optional<coredata::ManagedObjects>();
  });
  EXPECT_FALSE(failed.has_value());
  EXPECT_EQ(error.code(), 7);
  ASSERT_EQ(transaction->children().size(), 1u);
  EXPECT_EQ(transaction->children()[0]->context()->status(), DozidiSpanStatus::InternalError);
  EXPECT_EQ((*transaction->children()[0]->data())["read_count"], Value(std::int64_t{0}));

  context->insertNewObject("Person")->setValue(foundation::Date(), "born");  // no stored form
  EXPECT_FALSE(save(&error));
  ASSERT_EQ(transaction->children().size(), 2u);
  EXPECT_EQ(transaction->children()[1]->context()->spanDescription(), "INSERTED 1 'Person'");
  EXPECT_EQ(transaction->children()[1]->context()->status(), DozidiSpanStatus::InternalError);

  // Uninstalled, the replaced methods still run, unobserved.
  integration.uninstall();
  EXPECT_TRUE(fetch({"Person", nullptr, {}}, nullptr).has_value());
  EXPECT_EQ(transaction->children().size(), 2u);
}

}  // namespace
