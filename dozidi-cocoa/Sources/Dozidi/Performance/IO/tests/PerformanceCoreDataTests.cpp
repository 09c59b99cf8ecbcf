#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "IOTracingFixture.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanRecord.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiCoreDataTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiCoreDataTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
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

TEST_F(PerformanceCoreDataTests, SavesAreTransactionSpansSummarisingTheirChanges) {
  auto transaction = bindTransaction();
  auto person = context->insertNewObject("Person");
  auto car = context->insertNewObject("Car");
  ASSERT_TRUE(context->saveToStore(nullptr));  // around the table: no span
  ASSERT_TRUE(transaction->children().empty());

  using Change = std::function<void()>;
  struct Case {
    const char* name;
    Change change;
    const char* description;
    Dictionary operations;
  };
  const Case cases[] = {
      {"inserted of one entity, updated of two",
       [&] {
         context->insertNewObject("Person")->setValue("Bob", "name");
         context->insertNewObject("Person")->setValue("Ann", "name");
         person->setValue(30, "age");
         car->setValue("red", "color");
       },
       "INSERTED 2 'Person', UPDATED 2 items",
       Dictionary{{"INSERTED", Dictionary{{"Person", 2}}}, {"UPDATED", Dictionary{{"Person", 1}, {"Car", 1}}}}},
      {"inserted of two entities, deleted",
       [&] {
         context->insertNewObject("Car");
         context->insertNewObject("Person");
         context->deleteObject(car);
       },
       "INSERTED 2 items, DELETED 1 'Car'",
       Dictionary{{"INSERTED", Dictionary{{"Car", 1}, {"Person", 1}}}, {"DELETED", Dictionary{{"Car", 1}}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.change();
    ASSERT_TRUE(save(nullptr));
    auto span = transaction->children().back();
    EXPECT_EQ(span->context()->operation(), "db.sql.transaction");
    EXPECT_EQ(span->context()->spanDescription(), c.description);
    EXPECT_EQ((*span->data())["operations"], Value(c.operations));
    EXPECT_EQ(span->context()->status(), DozidiSpanStatus::Ok);
  }
  EXPECT_EQ(transaction->children().size(), 2u);
}

TEST_F(PerformanceCoreDataTests, FetchIsAQuerySpanAndReturnsTheSavedObjects) {
  struct Person {
    const char* name;
    int age;
  };
  for (const Person& p : {Person{"Bob", 42}, Person{"Bob", 31}, Person{"Bob", 30}, Person{"Ann", 50}}) {
    auto object = context->insertNewObject("Person");
    object->setValue(p.name, "name");
    object->setValue(p.age, "age");
  }
  ASSERT_TRUE(save(nullptr));
  auto transaction = bindTransaction();
  NSFetchRequest request{"Person",
                         NSCompoundPredicate::andPredicateWithSubpredicates(
                             {cmp("name", Op::EqualTo, "Bob"), cmp("age", Op::GreaterThan, 30)}),
                         {{"age", false}, {"name", true}}};
  auto people = fetch(request, nullptr);
  ASSERT_TRUE(people.has_value());
  ASSERT_EQ(people->size(), 2u);
  EXPECT_EQ((*people)[0]->valueForKey("age"), Value(42));
  EXPECT_EQ((*people)[1]->valueForKey("age"), Value(31));
  ASSERT_EQ(transaction->children().size(), 1u);
  auto span = transaction->children()[0];
  EXPECT_EQ(span->context()->operation(), "db.sql.query");
  EXPECT_EQ(span->context()->spanDescription(),
            "SELECT 'Person' WHERE name == %@ AND age > %@ SORT BY age DESCENDING, name");
  EXPECT_EQ((*span->data())["read_count"], Value(std::int64_t{2}));
  EXPECT_EQ(span->context()->status(), DozidiSpanStatus::Ok);
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
