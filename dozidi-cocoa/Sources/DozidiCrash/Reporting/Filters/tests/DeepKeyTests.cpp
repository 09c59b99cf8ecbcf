#include <gtest/gtest.h>

#include <cstring>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashCString.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Reporting/Filters/Tools/DozidiSanitize.h"
#include "platform/foundation/Data.h"

namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

Value report() {
  return Dictionary{{"crash", Dictionary{{"threads", Array{Dictionary{{"index", 0}}, Dictionary{{"index", 1}}}}}},
                    {"list", Array{"zero", "one"}}};
}

TEST(DeepKeyTests, LookupsAlongKeyPathsAndDeepKeys) {
  const Value root = report();
  struct Case {
    const char* name;
    Value found;
    Value expected;
  } cases[] = {
      {"no slash", dozidi_objectForKeyPath(root, "crash/threads/1/index"), 1},
      {"one slash", dozidi_objectForKeyPath(root, "/crash/threads/1/index"), 1},
      {"two slashes", dozidi_objectForKeyPath(root, "//crash/threads/1/index"), 1},
      {"empty text is index 0", dozidi_objectForKeyPath(root, "list/"), "zero"},
      {"number key into array", dozidi_objectForDeepKey(root, {"list", 1}), "one"},
      {"digits then letters", dozidi_objectForDeepKey(root, {"list", "1x"}), "one"},
      {"key starting with a letter", dozidi_objectForDeepKey(root, {"list", "a1"}), Value()},
      {"missing key", dozidi_objectForKeyPath(root, "crash/missing/0"), Value()},
      {"index past the end", dozidi_objectForDeepKey(root, {"list", 2}), Value()},
      {"negative index", dozidi_objectForDeepKey(root, {"list", -1}), Value()},
      {"through a scalar", dozidi_objectForKeyPath(root, "list/0/x"), Value()},
      {"empty deep key", dozidi_objectForDeepKey(Array{1}, {}), Array{1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.found, c.expected);
  }
}

TEST(DeepKeyTests, SetAndRemoveChangeTheNestedContainer) {
  Value root = report();
  ASSERT_TRUE(dozidi_setObjectForDeepKey(root, "new", {"top"}));
  EXPECT_EQ(root["top"], Value("new"));
  ASSERT_TRUE(dozidi_setObjectForKeyPath(root, 7, "crash/threads/0/index"));
  EXPECT_EQ(dozidi_objectForKeyPath(root, "crash/threads/0/index"), Value(7));
  ASSERT_TRUE(dozidi_removeObjectForKeyPath(root, "list/0"));
  EXPECT_EQ(root["list"], Value(Array{"one"}));
  ASSERT_TRUE(dozidi_removeObjectForDeepKey(root, {"crash", "threads"}));
  EXPECT_FALSE(root["crash"].dictionary()->contains("threads"));
}

TEST(DeepKeyTests, FailedChangesNameTheParentAndChangeNothing) {
  const Value original = report();
  struct Case {
    const char* name;
    foundation::Result<void> (*change)(Value&);
    const char* domain;
    const char* description;
  } cases[] = {
      {"empty deep key", [](Value& r) { return dozidi_setObjectForDeepKey(r, 1, {}); }, "NSInvalidArgumentException",
       "deepKey (\n\n) must contain at least one key"},
      {"leading slash", [](Value& r) { return dozidi_setObjectForKeyPath(r, 1, "/crash"); },
       "NSInternalInconsistencyException", "Parent (\n    \n) does not resolve to a valid object"},
      {"text key into an array", [](Value& r) { return dozidi_setObjectForKeyPath(r, 1, "list/x"); },
       "NSInternalInconsistencyException",
       "Parent (\n    list\n) of type NSArray does not respond to \"setObject:forKey:\""},
      {"index into a text", [](Value& r) { return dozidi_removeObjectForKeyPath(r, "list/0/0"); },
       "NSInternalInconsistencyException",
       "Parent (\n    list,\n    0\n) of type NSString does not respond to \"removeObjectForKey:\" or "
       "\"removeObjectAtIndex:\""},
      {"index past the end",
       [](Value& r) {
         return dozidi_setObjectForDeepKey(r, 1, {"list", 5});
       },
       "NSRangeException", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Value root = original;
    const foundation::Result<void> result = c.change(root);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().domain(), c.domain);
    if (c.description) {
      EXPECT_EQ(result.error().localizedDescription(), c.description);
    }
    EXPECT_EQ(root, original);
  }
}

TEST(DeepKeyTests, CStringCopiesBytesWithAFinalNul) {
  const char three[] = {'a', '\0', 'c'};
  auto fromBytes = DozidiCrashCString::stringWithData(three, 3);
  ASSERT_NE(fromBytes->bytes(), nullptr);
  EXPECT_EQ(fromBytes->length(), 3u);
  EXPECT_EQ(std::memcmp(fromBytes->bytes(), "a\0c\0", 4), 0);

  auto fromData = DozidiCrashCString::stringWithData(foundation::Data(std::string("xyz")));
  EXPECT_STREQ(fromData->bytes(), "xyz");
  EXPECT_EQ(DozidiCrashCString::stringWithString(std::string_view("ab\0cd", 5))->length(), 2u);
  EXPECT_STREQ(DozidiCrashCString::stringWithCString("text")->bytes(), "text");
  auto none = DozidiCrashCString::stringWithCString(nullptr);
  EXPECT_EQ(none->bytes(), nullptr);
  EXPECT_EQ(none->length(), 0u);
}

}  // namespace
