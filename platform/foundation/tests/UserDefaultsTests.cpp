#include "platform/foundation/UserDefaults.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/foundation/PropertyListSerialization.h"
#include "platform/foundation/detail/FileSystemCalls.h"
#include "platform/foundation/tests/TemporaryDeviceRoot.h"

namespace foundation {
namespace {

constexpr const char* kGroup = "group.com.morvit.Fendrel";

class UserDefaultsTest : public testing::TemporaryDeviceRoot {
 protected:
  void TearDown() override {
    detail::resetFileSystemCalls();
    TemporaryDeviceRoot::TearDown();
  }
};

TEST_F(UserDefaultsTest, ValuesKeepTheirKindsAcrossARestart) {
  installApp(Array{kGroup});
  auto defaults = UserDefaults::suite(kGroup);
  ASSERT_TRUE(defaults);
  defaults->setBool("launchedEver", true);
  defaults->setInteger("launchCount", 3);
  defaults->setDouble("ratio", 2.75);
  ASSERT_TRUE(defaults->set("name", "list").ok());
  ASSERT_TRUE(defaults->set("blob", Data::fromView("\x01\x02")).ok());
  ASSERT_TRUE(defaults->set("when", Date{42.5}).ok());
  ASSERT_TRUE(defaults->set("ids", Array{"a", "b"}).ok());
  ASSERT_TRUE(defaults->set("map", Dictionary{{"enabled", true}}).ok());

  // A second store on the same file stands for the next launch of the app.
  UserDefaults relaunched(defaults->filePath());
  EXPECT_TRUE(relaunched.object("launchedEver").isBool());
  EXPECT_EQ(relaunched.object("launchCount").number()->kind(), Number::Kind::Int64);
  EXPECT_EQ(relaunched.object("ratio").number()->kind(), Number::Kind::Double);
  EXPECT_EQ(relaunched.string("name"), "list");
  EXPECT_EQ(relaunched.data("blob"), Data::fromView("\x01\x02"));
  EXPECT_EQ(relaunched.date("when"), Date{42.5});
  EXPECT_EQ(relaunched.array("ids"), (Array{"a", "b"}));
  EXPECT_EQ(relaunched.dictionary("map"), (Dictionary{{"enabled", true}}));
  EXPECT_EQ(relaunched.dictionaryRepresentation().size(), 8u);
}

TEST_F(UserDefaultsTest, TypedReadsFollowThePlatformConversions) {
  auto defaults = UserDefaults::suite("settings");
  ASSERT_TRUE(defaults);
  defaults->setBool("yes", true);
  defaults->setDouble("twoNine", 2.9);
  defaults->setInteger("zero", 0);
  ASSERT_TRUE(defaults->set("text", "12").ok());

  EXPECT_EQ(defaults->integer("yes"), 1);
  EXPECT_EQ(defaults->integer("twoNine"), 2);
  EXPECT_EQ(defaults->integer("text"), 0);
  EXPECT_EQ(defaults->integer("missing"), 0);
  EXPECT_TRUE(defaults->boolean("twoNine"));
  EXPECT_FALSE(defaults->boolean("zero"));
  EXPECT_FALSE(defaults->boolean("text"));
  EXPECT_FALSE(defaults->boolean("missing"));
  EXPECT_DOUBLE_EQ(defaults->doubleValue("yes"), 1.0);
  EXPECT_FALSE(defaults->data("text"));  // text is not data
  EXPECT_FALSE(defaults->string("zero"));

  ASSERT_TRUE(defaults->set("text", Value()).ok());
  EXPECT_TRUE(defaults->object("text").isAbsent());
  defaults->removeObject("yes");
  EXPECT_FALSE(defaults->boolean("yes"));
}

TEST_F(UserDefaultsTest, RefusedValueKeepsTheEarlierEntry) {
  auto defaults = UserDefaults::suite("settings");
  ASSERT_TRUE(defaults->set("config", Dictionary{{"a", 1}}).ok());
  auto refused = defaults->set("config", Dictionary{{"a", nullptr}});
  ASSERT_FALSE(refused.ok());
  EXPECT_TRUE(refused.error().is(kCocoaErrorDomain, 3851));
  EXPECT_EQ(defaults->object("config"), Value(Dictionary{{"a", 1}}));
}

TEST_F(UserDefaultsTest, SuiteLivesInTheContainerOnlyWithTheEntitlement) {
  installApp(Array{kGroup});
  auto shared = UserDefaults::suite(kGroup);
  EXPECT_EQ(shared, UserDefaults::suite(kGroup));
  EXPECT_EQ(shared->filePath(), root_ + "/containers/" + kGroup + "/Library/Preferences/" + kGroup + ".plist");
  EXPECT_EQ(UserDefaults::standard()->filePath(),
            root_ + "/data/com.morvit.Fendrel/Library/Preferences/com.morvit.Fendrel.plist");

  installApp(Array{});
  EXPECT_EQ(UserDefaults::suite(kGroup)->filePath(),
            root_ + "/data/com.morvit.Fendrel/Library/Preferences/" + kGroup + ".plist");
  for (const char* bad : {"", ".", "..", "a/b"}) EXPECT_EQ(UserDefaults::suite(bad), nullptr) << bad;
}

TEST_F(UserDefaultsTest, UnwritableChangeStaysUntilItCanBeWritten) {
  auto defaults = UserDefaults::suite("settings");
  detail::fileSystemCalls().rename = [](const char*, const char*) { errno = EROFS; return -1; };
  defaults->setInteger("count", 5);
  EXPECT_EQ(defaults->integer("count"), 5);
  EXPECT_FALSE(defaults->synchronize());
  detail::resetFileSystemCalls();
  EXPECT_TRUE(defaults->synchronize());
  EXPECT_EQ(UserDefaults(defaults->filePath()).integer("count"), 5);
}

TEST_F(UserDefaultsTest, DamagedFileReadsAsEmptyAndIsReplaced) {
  auto defaults = UserDefaults::suite("settings");
  defaults->setInteger("before", 1);
  ASSERT_TRUE(FileManager::defaultManager().writeFileAtomically(defaults->filePath(), "garbage").ok());
  EXPECT_TRUE(defaults->object("before").isAbsent());
  defaults->setInteger("after", 2);
  EXPECT_EQ(UserDefaults(defaults->filePath()).dictionaryRepresentation(), (Dictionary{{"after", 2}}));
}

TEST_F(UserDefaultsTest, ThreadsSettingDifferentKeysLoseNone) {
  auto defaults = UserDefaults::suite("settings");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        defaults->setInteger("t" + std::to_string(t) + "-" + std::to_string(i), i);
        (void)defaults->integer("t0-0");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(UserDefaults(defaults->filePath()).dictionaryRepresentation().size(), 200u);
}

TEST_F(UserDefaultsTest, TwoProcessesSettingDifferentKeysLoseNone) {
  installApp(Array{kGroup});
  auto parent = UserDefaults::suite(kGroup);
  parent->setBool("parent", true);

  std::vector<pid_t> children;
  for (const char* prefix : {"a", "b"}) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      auto defaults = UserDefaults::suite(kGroup);
      for (int i = 0; i < 200; ++i) defaults->setInteger(std::string(prefix) + std::to_string(i), i);
      ::_exit(defaults->synchronize() ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  // The parent's own store notices the other processes' writes.
  const Dictionary all = parent->dictionaryRepresentation();
  EXPECT_EQ(all.size(), 401u);
  EXPECT_EQ(parent->integer("a199"), 199);
  EXPECT_EQ(parent->integer("b0"), 0);
  EXPECT_TRUE(parent->boolean("parent"));
}

}  // namespace
}  // namespace foundation
