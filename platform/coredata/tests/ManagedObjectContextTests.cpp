#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/coredata/CoreDataError.h"
#include "platform/coredata/NSManagedObjectContext.h"
#include "platform/coredata/detail/PredicateQuery.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Error.h"
#include "testing/TemporaryFolder.h"

namespace coredata {
namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Error;
using foundation::Value;
using Op = NSPredicateOperatorType;

std::shared_ptr<const NSPredicate> cmp(const char* key, Op op, Value value) {
  return NSComparisonPredicate::withKeyPath(key, op, std::move(value));
}
std::shared_ptr<const NSPredicate> both(std::shared_ptr<const NSPredicate> a, std::shared_ptr<const NSPredicate> b) {
  return NSCompoundPredicate::andPredicateWithSubpredicates({std::move(a), std::move(b)});
}
std::shared_ptr<const NSPredicate> either(std::shared_ptr<const NSPredicate> a, std::shared_ptr<const NSPredicate> b) {
  return NSCompoundPredicate::orPredicateWithSubpredicates({std::move(a), std::move(b)});
}
std::shared_ptr<const NSPredicate> negated(std::shared_ptr<const NSPredicate> a) {
  return NSCompoundPredicate::notPredicateWithSubpredicate(std::move(a));
}

std::vector<std::string> names(const ManagedObjects& objects) {
  std::vector<std::string> out;
  for (const auto& o : objects) out.push_back(o->valueForKey("name").asString().value_or("?"));
  return out;
}

class ManagedObjectContextTests : public ::testing::Test {
 protected:
  void SetUp() override {
    path = folder.path() + "/store.sqlite";
    auto opened = NSManagedObjectContext::openStore(path);
    ASSERT_TRUE(opened.ok());
    context = *opened;
  }

  /// Saves people (name, age, optional city in a nested address) and a car.
  void savePeople() {
    struct Person { const char* name; Value age; const char* city; };
    for (const Person& p : {Person{"Bob", 42, "Oslo"}, Person{"alice", 30, "Bergen"}, Person{"Carl", 31.5, nullptr},
                            Person{"Dora", Value(), "Oslo"}, Person{"Bobby", 25, nullptr}}) {
      auto object = context->insertNewObject("Person");
      object->setValue(p.name, "name");
      object->setValue(p.age, "age");
      if (p.city) object->setValue(Dictionary{{"city", p.city}}, "address");
    }
    context->insertNewObject("Car")->setValue("Volvo", "name");
    Error error("", 0);
    ASSERT_TRUE(context->save(&error)) << error.localizedDescription();
  }

  std::vector<std::string> fetchNames(std::shared_ptr<const NSPredicate> predicate,
                                      std::vector<NSSortDescriptor> sort = {{"name", true}}) {
    Error error("", 0);
    auto result = context->executeFetchRequest({"Person", std::move(predicate), std::move(sort)}, &error);
    EXPECT_TRUE(result.has_value()) << error.localizedDescription();
    return result ? names(*result) : std::vector<std::string>{};
  }

  testing_support::TemporaryFolder folder{"fendrel-coredata"};
  std::string path;
  std::shared_ptr<NSManagedObjectContext> context;
};

TEST_F(ManagedObjectContextTests, PredicatesSelectTheSameObjectsInSQLAndInMemory) {
  savePeople();
  auto keyOnRight = std::make_shared<NSComparisonPredicate>(NSExpression::expressionForConstantValue(35),
                                                            NSExpression::expressionForKeyPath("age"), Op::LessThan);
  auto ternary = std::make_shared<NSComparisonPredicate>(
      NSExpression::expressionForConditional(cmp("age", Op::GreaterThan, 40), NSExpression::expressionForConstantValue("old"),
                                             NSExpression::expressionForConstantValue("young")),
      NSExpression::expressionForConstantValue("old"), Op::EqualTo);
  struct Case {
    const char* name;
    std::shared_ptr<const NSPredicate> predicate;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"equal", cmp("name", Op::EqualTo, "Bob"), {"Bob"}},
      {"not equal keeps missing values", cmp("age", Op::NotEqualTo, 42), {"Bobby", "Carl", "Dora", "alice"}},
      {"equal to null", cmp("age", Op::EqualTo, nullptr), {"Dora"}},
      {"greater, integer and double", cmp("age", Op::GreaterThan, 30), {"Bob", "Carl"}},
      {"less or equal", cmp("age", Op::LessThanOrEqualTo, 30), {"Bobby", "alice"}},
      {"key on the right", keyOnRight, {"Bob"}},
      {"begins with", cmp("name", Op::BeginsWith, "Bob"), {"Bob", "Bobby"}},
      {"ends with longer than value", cmp("name", Op::EndsWith, "xBobby"), {}},
      {"ends with", cmp("name", Op::EndsWith, "ce"), {"alice"}},
      {"contains", cmp("name", Op::Contains, "ar"), {"Carl"}},
      {"in", cmp("name", Op::In, Array{"Dora", "Carl", "Zed"}), {"Carl", "Dora"}},
      {"in empty", cmp("name", Op::In, Array{}), {}},
      {"between", cmp("age", Op::Between, Array{30, 40}), {"Carl", "alice"}},
      {"and", both(cmp("name", Op::BeginsWith, "B"), cmp("age", Op::GreaterThan, 30)), {"Bob"}},
      {"or", either(cmp("name", Op::EqualTo, "Dora"), cmp("age", Op::LessThan, 26)), {"Bobby", "Dora"}},
      {"not of a comparison on a missing value", negated(cmp("age", Op::GreaterThan, 30)), {"Bobby", "Dora", "alice"}},
      {"like (in memory)", cmp("name", Op::Like, "B?b*"), {"Bob", "Bobby"}},
      {"matches (in memory)", cmp("name", Op::Matches, "[a-z].*"), {"alice"}},
      {"bad regular expression matches nothing", cmp("name", Op::Matches, "(("), {}},
      {"key path through a dictionary (in memory)", cmp("address.city", Op::EqualTo, "Oslo"), {"Bob", "Dora"}},
      {"conditional (in memory)", ternary, {"Bob"}},
      {"mixed SQL and memory parts", both(cmp("age", Op::GreaterThan, 26), cmp("name", Op::Like, "*l*")),
       {"Carl", "alice"}},
      {"true predicate", NSPredicate::truePredicate(), {"Bob", "Bobby", "Carl", "Dora", "alice"}},
  };
  Error error("", 0);
  auto all = context->executeFetchRequest({"Person", nullptr, {{"name", true}}}, &error);
  ASSERT_TRUE(all.has_value());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(fetchNames(c.predicate), c.expected);
    // The SQL form must agree with the in-memory evaluation of the same predicate.
    std::vector<std::string> evaluated;
    for (const auto& object : *all)
      if (detail::evaluatePredicate(*c.predicate, object->attributes()))
        evaluated.push_back(*object->valueForKey("name").asString());
    EXPECT_EQ(evaluated, c.expected);
  }
}

TEST_F(ManagedObjectContextTests, SortDescriptorsAndLimitOrderTheResult) {
  savePeople();
  EXPECT_EQ(fetchNames(nullptr, {{"age", false}, {"name", true}}),
            (std::vector<std::string>{"Bob", "Carl", "alice", "Bobby", "Dora"}));
  // A sort key SQL cannot name is sorted in memory, missing values first.
  EXPECT_EQ(fetchNames(nullptr, {{"address.city", true}, {"name", false}}),
            (std::vector<std::string>{"Carl", "Bobby", "alice", "Dora", "Bob"}));
  Error error("", 0);
  auto limited = context->executeFetchRequest({"Person", nullptr, {{"age", true}}, 2}, &error);
  ASSERT_TRUE(limited.has_value());
  EXPECT_EQ(names(*limited), (std::vector<std::string>{"Dora", "Bobby"}));
}

TEST_F(ManagedObjectContextTests, SaveWritesInsertsUpdatesAndDeletesThatAnotherContextReads) {
  savePeople();
  EXPECT_FALSE(context->hasChanges());
  Error error("", 0);
  auto people = context->executeFetchRequest({"Person", cmp("name", Op::BeginsWith, "Bob"), {{"name", true}}}, &error);
  ASSERT_TRUE(people.has_value());
  ASSERT_EQ(people->size(), 2u);
  (*people)[0]->setValue(43, "age");
  context->deleteObject((*people)[1]);
  auto eve = context->insertNewObject("Person");
  eve->setValue("Eve", "name");
  EXPECT_EQ(context->insertedObjects().size(), 1u);
  EXPECT_EQ(context->updatedObjects().size(), 1u);
  EXPECT_EQ(context->deletedObjects().size(), 1u);
  // A deletion is seen by fetches of this context before it is saved.
  EXPECT_EQ(fetchNames(cmp("name", Op::BeginsWith, "Bob")), (std::vector<std::string>{"Bob"}));

  ASSERT_TRUE(context->save(&error)) << error.localizedDescription();
  EXPECT_FALSE(eve->isTemporaryID());
  // Within the context a fetch hands out the instance it already has.
  auto again = context->executeFetchRequest({"Person", cmp("name", Op::EqualTo, "Eve"), {}}, &error);
  ASSERT_TRUE(again.has_value());
  ASSERT_EQ(again->size(), 1u);
  EXPECT_EQ((*again)[0], eve);

  auto other = NSManagedObjectContext::openStore(path);
  ASSERT_TRUE(other.ok());
  auto stored = (*other)->executeFetchRequest({"Person", nullptr, {{"name", true}}}, &error);
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(names(*stored), (std::vector<std::string>{"Bob", "Carl", "Dora", "Eve", "alice"}));
  EXPECT_EQ((*stored)[0]->valueForKey("age"), Value(43));
  auto cars = (*other)->executeFetchRequest({"Car", nullptr, {}}, &error);
  ASSERT_TRUE(cars.has_value());
  EXPECT_EQ(cars->size(), 1u);
}

TEST_F(ManagedObjectContextTests, FailedSaveWritesNothingAndKeepsTheChanges) {
  auto good = context->insertNewObject("Person");
  good->setValue("Ann", "name");
  auto bad = context->insertNewObject("Person");
  bad->setValue(foundation::Date(), "born");  // a date has no stored form
  Error error("", 0);
  EXPECT_FALSE(context->save(&error));
  EXPECT_TRUE(error.is(foundation::kCocoaErrorDomain, static_cast<std::int64_t>(CoreDataError::ValidationInvalidAttribute)));
  EXPECT_TRUE(context->hasChanges());
  EXPECT_TRUE(fetchNames(nullptr).empty());

  bad->setValue(Value(), "born");
  ASSERT_TRUE(context->save(&error));
  EXPECT_EQ(fetchNames(nullptr), (std::vector<std::string>{"?", "Ann"}));
}

TEST_F(ManagedObjectContextTests, StoreThatCannotBeOpenedIsAnError) {
  auto missingFolder = NSManagedObjectContext::openStore(folder.path() + "/missing/store.sqlite");
  ASSERT_FALSE(missingFolder.ok());
  EXPECT_EQ(missingFolder.error().code(), static_cast<std::int64_t>(CoreDataError::PersistentStoreOpen));

  const std::string notAStore = folder.path() + "/text";
  FILE* f = std::fopen(notAStore.c_str(), "w");
  std::fputs("this is not an SQLite database, only some text that is long enough to have a header", f);
  std::fclose(f);
  auto corrupt = NSManagedObjectContext::openStore(notAStore);
  ASSERT_FALSE(corrupt.ok());
  EXPECT_EQ(corrupt.error().code(), static_cast<std::int64_t>(CoreDataError::PersistentStoreOpen));
}

}  // namespace
}  // namespace coredata
