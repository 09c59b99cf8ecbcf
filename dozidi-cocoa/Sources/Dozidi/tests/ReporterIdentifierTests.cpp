#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiId.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDefaultObjCRuntimeWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiInAppLogic.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiInstallation.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiRandom.h"
#include "dozidi-cocoa/Sources/Dozidi/tests/InstallationTesting.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/tests/TemporaryDeviceRoot.h"

namespace {

struct SomeClass {
  virtual ~SomeClass() = default;
};

TEST(ReporterIdentifierTests, IdParsesBothFormsInEitherCase) {
  const std::string lower = "e621e1f8c36c495a93fc0c247a3e6e5f";
  struct Case {
    const char* text;
    std::string expected;
  };
  const Case cases[] = {
      {"e621e1f8c36c495a93fc0c247a3e6e5f", lower},
      {"E621E1F8C36C495A93FC0C247A3E6E5F", lower},
      {"E621E1F8-C36C-495A-93FC-0C247A3E6E5F", lower},
      {"e621e1f8-c36c-495a-93fc-0c247a3e6e5f", lower},
      {"abc", std::string(32, '0')},
      {"e621e1f8-c36c-495a-93fc-0c247a3e6e5g", std::string(32, '0')},
      {"e621e1f8xc36cx495ax93fcx0c247a3e6e5f", std::string(32, '0')},
      {"e621e1f8c36c495a93fc0c247a3e6e5z", std::string(32, '0')},
      {"", std::string(32, '0')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(DozidiId::initWithUUIDString(c.text).dozidiIdString(), c.expected);
  }
  EXPECT_EQ(DozidiId::initWithUUIDString(lower), DozidiId::initWithUUIDString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
  EXPECT_EQ(DozidiId::initWithUUIDString("abc"), DozidiId::empty());
  EXPECT_EQ(DozidiId::empty().description(), std::string(32, '0'));
}

TEST(ReporterIdentifierTests, NewIdsAreRandomLowerCaseHex) {
  DozidiId a;
  DozidiId b;
  EXPECT_NE(a, b);
  EXPECT_NE(a.hash(), b.hash());
  EXPECT_TRUE(std::regex_match(a.dozidiIdString(), std::regex("[0-9a-f]{32}")));
  EXPECT_EQ(DozidiId::initWithUUIDString(a.dozidiIdString()), a);
  EXPECT_EQ(std::hash<DozidiId>()(DozidiId::initWithUUIDString(a.dozidiIdString())), std::hash<DozidiId>()(a));
}

TEST(ReporterIdentifierTests, InAppIsACaseInsensitivePrefixOfTheImageFileName) {
  const DozidiInAppLogic logic({"Fendrel"}, {"FendrelKit"});
  struct Case {
    std::optional<std::string_view> path;
    bool expected;
  };
  const Case cases[] = {
      {"/apps/Fendrel.app/Fendrel", true},
      {"/apps/Fendrel.app/Frameworks/fendrelkit.so", true},  // excludes never turn an include around
      {"/usr/lib/x86_64-linux-gnu/libc.so.6", false},
      {"/Fendrel/libc.so.6", false},  // only the file name counts
      {"Fendrel", true},
      {std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path.value_or("(none)")));
    EXPECT_EQ(logic.isInApp(c.path), c.expected);
  }
  EXPECT_FALSE(DozidiInAppLogic({}, {}).isInApp("/apps/Fendrel.app/Fendrel"));
}

TEST(ReporterIdentifierTests, ClassInAppLooksAtTheImageDefiningTheClass) {
  // The test's own class is defined in the test program, whose name starts with "Reporter".
  EXPECT_TRUE(DozidiInAppLogic({"ReporterIdentifier"}, {}).isClassInApp(typeid(SomeClass)));
  EXPECT_FALSE(DozidiInAppLogic({"libc"}, {}).isClassInApp(typeid(SomeClass)));
  // A class of the reporter library is defined in the library's own image.
  auto image = DozidiDefaultObjCRuntimeWrapper::sharedInstance()->class_getImageName(typeid(DozidiRandom));
  ASSERT_TRUE(image.has_value());
  EXPECT_NE(image->find("libdozidi"), std::string::npos) << *image;
  EXPECT_TRUE(DozidiInAppLogic({"libdozidi"}, {}).isClassInApp(typeid(DozidiRandom)));
}

class ReporterInstallationTests : public foundation::test_support::TemporaryDeviceRoot {
 protected:
  void SetUp() override {
    TemporaryDeviceRoot::SetUp();
    resetCachedInstallationIdForTesting();
  }
  void TearDown() override {
    resetCachedInstallationIdForTesting();
    TemporaryDeviceRoot::TearDown();
  }
  std::string path() const {
    return foundation::FileManager::defaultManager().cachesDirectory().path() + "/INSTALLATION";
  }
};

TEST_F(ReporterInstallationTests, FirstRunCreatesTheFileAndLaterRunsReadItBack) {
  const std::string id = DozidiInstallation::id();
  EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")));
  EXPECT_EQ(foundation::FileManager::defaultManager().readFile(path())->bytes(), id);
  resetCachedInstallationIdForTesting();  // as a new process would
  EXPECT_EQ(DozidiInstallation::id(), id);
}

TEST_F(ReporterInstallationTests, StoredTextIsUsedAsItIsAndBadFilesAreReplaced) {
  struct Case {
    const char* name;
    std::string contents;
    bool kept;
  };
  const Case cases[] = {
      {"any UTF-8 text", "custom-id", true},
      {"empty file", "", false},
      {"not UTF-8", "\xff\xfe", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    resetCachedInstallationIdForTesting();
    ASSERT_TRUE(foundation::FileManager::defaultManager().writeFileAtomically(path(), c.contents).ok());
    const std::string id = DozidiInstallation::id();
    if (c.kept) {
      EXPECT_EQ(id, c.contents);
    } else {
      EXPECT_EQ(id.size(), 36u);
      EXPECT_EQ(foundation::FileManager::defaultManager().readFile(path())->bytes(), id);
    }
  }
}

TEST_F(ReporterInstallationTests, ThreadsAskingAtOnceGetOneId) {
  std::vector<std::string> ids(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < ids.size(); ++i) threads.emplace_back([&, i] { ids[i] = DozidiInstallation::id(); });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 1u);
}

}  // namespace
