#include "platform/foundation/UserDefaults.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <thread>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "platform/foundation/detail/FileSystemCalls.h"
#include "platform/foundation/tests/TemporaryDeviceRoot.h"

namespace foundation {
namespace {

constexpr const char* kGroup = "group.com.morvit.Fendrel";

class UserDefaultsTest : public test_support::TemporaryDeviceRoot {
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
  ASSERT_TRUE(defaults->setBool("launchedEver", true).ok());
  ASSERT_TRUE(defaults->setInteger("launchCount", 3).ok());
  ASSERT_TRUE(defaults->setDouble("ratio", 2.75).ok());
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
  ASSERT_TRUE(defaults->setBool("yes", true).ok());
  ASSERT_TRUE(defaults->setDouble("twoNine", 2.9).ok());
  ASSERT_TRUE(defaults->setInteger("zero", 0).ok());
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
  ASSERT_TRUE(defaults->removeObject("yes").ok());
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

TEST_F(UserDefaultsTest, ChangeThatCannotBeWrittenIsRefusedAndNotKept) {
  auto defaults = UserDefaults::suite("settings");
  ASSERT_TRUE(defaults->setInteger("count", 1).ok());
  const std::string folder = defaults->filePath().substr(0, defaults->filePath().rfind('/'));
  struct Case {
    const char* name;
    std::function<void()> breakIt;
    std::function<void()> mendIt;
  };
  const Case cases[] = {
      {"the disk refuses the write",
       [] { detail::fileSystemCalls().rename = [](const char*, const char*) { errno = EROFS; return -1; }; },
       [] { detail::resetFileSystemCalls(); }},
      // A file in place of the folder stops even a process running as root.
      {"the folder is a file",
       [&] {
         ASSERT_TRUE(FileManager::defaultManager().removeItem(folder).ok());
         ASSERT_TRUE(FileManager::defaultManager().writeFileAtomically(folder, "not a folder").ok());
       },
       [&] { ASSERT_TRUE(FileManager::defaultManager().removeItem(folder).ok()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.breakIt();
    EXPECT_FALSE(defaults->setInteger("count", 5).ok());
    EXPECT_FALSE(defaults->update("count", [](Value& v) { v = Value(6); }).ok());
    EXPECT_LT(defaults->integer("count"), 5);
    c.mendIt();
    // Nothing refused is written later either.
    EXPECT_TRUE(defaults->setBool("other", true).ok());
    EXPECT_LT(UserDefaults(defaults->filePath()).integer("count"), 5);
  }
}

TEST_F(UserDefaultsTest, UnreadableFileIsKeptAsideOnceAndTheStoreStartsOver) {
  auto defaults = UserDefaults::suite("settings");
  ASSERT_TRUE(defaults->setInteger("before", 1).ok());
  const std::string good = FileManager::defaultManager().readFile(defaults->filePath())->bytes();
  std::vector<Dictionary> posted;
  auto& center = NotificationCenter::defaultCenter();
  const auto token = center.addObserver(UserDefaults::kUnreadableFileSetAsideNotification, nullptr,
                                        [&](const Notification& n) { posted.push_back(n.userInfo); });
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"truncated", good.substr(0, good.size() / 2)},
      {"foreign bytes", std::string("\x89PNG\r\n\x1a\n\0\0garbage", 18)},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    posted.clear();
    ASSERT_TRUE(FileManager::defaultManager().writeFileAtomically(defaults->filePath(), bytes).ok());
    EXPECT_TRUE(defaults->object("before").isAbsent());
    EXPECT_TRUE(defaults->object("after").isAbsent());  // a second read does not report it again
    ASSERT_EQ(posted.size(), 1u);
    const std::string keptAs = posted[0]["keptAs"].asString().value_or("");
    EXPECT_EQ(posted[0]["path"].asString(), defaults->filePath());
    EXPECT_TRUE(keptAs.starts_with(defaults->filePath() + ".corrupt-")) << keptAs;
    auto kept = FileManager::defaultManager().readFile(keptAs);
    ASSERT_TRUE(kept.ok());
    EXPECT_EQ(kept->bytes(), bytes);
    EXPECT_FALSE(FileManager::defaultManager().fileExists(defaults->filePath()));
    ASSERT_TRUE(defaults->setInteger("after", 2).ok());
    EXPECT_EQ(UserDefaults(defaults->filePath()).dictionaryRepresentation(), (Dictionary{{"after", 2}}));
    ASSERT_TRUE(defaults->removeObject("after").ok());
    ASSERT_TRUE(defaults->setInteger("before", 1).ok());
  }
  center.removeObserver(token);
}

TEST_F(UserDefaultsTest, UpdateOfOneKeyInTwoProcessesLosesNoChange) {
  auto parent = UserDefaults::suite("settings");
  std::vector<pid_t> children;
  for (const char* prefix : {"a", "b"}) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      auto defaults = UserDefaults::suite("settings");
      bool stored = true;
      for (int i = 0; i < 100; ++i) {
        const std::string item = std::string(prefix) + std::to_string(i);
        stored = defaults->update("items", [&](Value& v) {
          Array items = v.array() ? *v.array() : Array();
          items.push_back(item);
          v = Value(std::move(items));
        }).ok() && stored;
        stored = defaults->update("count", [](Value& v) { v = Value(v.number() ? v.number()->int64Value() + 1 : 1); })
                     .ok() && stored;
      }
      ::_exit(stored ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(parent->array("items").value_or(Array()).size(), 200u);
  EXPECT_EQ(parent->integer("count"), 200);
}

TEST_F(UserDefaultsTest, ThreadsSettingDifferentKeysLoseNone) {
  auto defaults = UserDefaults::suite("settings");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(defaults->setInteger("t" + std::to_string(t) + "-" + std::to_string(i), i).ok());
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
  ASSERT_TRUE(parent->setBool("parent", true).ok());

  std::vector<pid_t> children;
  for (const char* prefix : {"a", "b"}) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      auto defaults = UserDefaults::suite(kGroup);
      bool stored = true;
      for (int i = 0; i < 200; ++i) stored = defaults->setInteger(std::string(prefix) + std::to_string(i), i).ok() && stored;
      ::_exit(stored ? 0 : 1);
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
