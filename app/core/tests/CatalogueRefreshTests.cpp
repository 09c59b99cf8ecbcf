// The catalogue refresh from the configuration's "lists" and "apps".

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/core/ListElement.h"
#include "app/core/SharedAux.h"
#include "app/core/Singleton.h"
#include "app/core/tests/CoreDoubles.h"
#include "app/core/tests/CoreTestSupport.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/UserDefaults.h"

namespace fendrel {
namespace {

using foundation::Array;
using foundation::Dictionary;

Dictionary list(const std::string& id, std::int64_t num, bool debugOnly = false) {
  Dictionary entry = test_support::listDictionary(id, id + ".json");
  entry.set("num", num);
  if (debugOnly) entry.set("debugOnly", true);
  return entry;
}

Dictionary app(const std::string& name) {
  return Dictionary{{"name", name}, {"modifiedAt", 1.0}, {"iconUrl", "i.png"}, {"objectId", "app-" + name},
                    {"iTunesId", "1"}};
}

class CatalogueRefreshTests : public ::testing::Test {
 protected:
  void configure(Dictionary raw) { state_.config->set(std::move(raw), foundation::URL::parse(server_.url("/config.json"))); }
  Dictionary standardConfig() const {
    Dictionary nameless = list("x", 0);
    nameless.remove("name");
    return Dictionary{{"lists", Array{list("three", 3), list("oneA", 1), nameless, list("debug", 0, true),
                                      list("oneB", 1)}},
                      {"apps", Array{app("b"), app("B"), app("a")}}};
  }
  /// Runs one refresh and waits for its completion; false when the completion never ran.
  bool refresh(tovel::CloudConfigSource source) {
    const bool remote = source == tovel::CloudConfigSource::Remote;
    auto completed = std::make_shared<std::optional<bool>>();
    SharedAux::applyCloudConfig(source, Singleton::shared(), [completed](bool r) { *completed = r; });
    // The completion runs on a later turn of the main queue, never within the call.
    EXPECT_FALSE(completed->has_value());
    dispatch::drainMainQueue();
    return *completed == remote;
  }
  std::vector<std::string> listIDs() const {
    std::vector<std::string> ids;
    for (const auto& element : *Singleton::shared().lists()) ids.push_back(element->obj().objectId());
    return ids;
  }
  std::vector<std::string> appNames() const {
    std::vector<std::string> names;
    for (const auto& obj : *Singleton::shared().apps()) names.push_back(obj.name());
    return names;
  }
  std::set<std::string> enabled() const { return Singleton::shared().extConfigIDs(); }
  void setLaunchCount(std::int64_t count) { ASSERT_TRUE(Singleton::shared().userDefs()->setInteger("launchCount", count).ok()); }

  test_support::ScopedManualClock clock_;
  test_support::ScopedDeviceRoot root_;
  test_support::ScopedAppState state_;
  test_support::LoopbackServer server_;
};

TEST_F(CatalogueRefreshTests, BuildsTheDisplayListsInOrder) {
  configure(standardConfig());
  setLaunchCount(5);
  ASSERT_TRUE(refresh(tovel::CloudConfigSource::Local));
  EXPECT_EQ(listIDs(), (std::vector<std::string>{"oneA", "oneB", "three"}));
  EXPECT_EQ(appNames(), (std::vector<std::string>{"B", "a", "b"}));
}

TEST_F(CatalogueRefreshTests, OnlyARemoteRefreshOfTheFirstLaunchEnablesTheFirstList) {
  struct Case {
    const char* name;
    tovel::CloudConfigSource source;
    std::int64_t launchCount;
    std::set<std::string> expected;
  };
  const Case cases[] = {
      {"first launch, remote", tovel::CloudConfigSource::Remote, 1, {"oneA"}},
      {"first launch, local", tovel::CloudConfigSource::Local, 0, {}},
      {"later launch, remote", tovel::CloudConfigSource::Remote, 2, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Singleton::shared().userDefs()->set("extConfigIDs", Array{}));
    configure(standardConfig());
    setLaunchCount(c.launchCount);
    ASSERT_TRUE(refresh(c.source));
    EXPECT_EQ(enabled(), c.expected);
    if (!c.expected.empty()) {
      EXPECT_EQ(Singleton::shared().extConfigListNames(), (std::set<std::string>{"List oneA"}));
    }
    // The list's file is not cached: its download, not the refresh, asks for the compilation.
    EXPECT_TRUE(state_.compileService->compilations.empty());
  }
}

TEST_F(CatalogueRefreshTests, FirstListAlreadyCachedIsShownEnabledAndCompiled) {
  std::filesystem::create_directories(root_.cachesPath());
  std::ofstream(root_.cachesPath() + "/1600000000oneA.json") << "[]";
  configure(standardConfig());
  ASSERT_TRUE(refresh(tovel::CloudConfigSource::Remote));
  EXPECT_EQ(enabled(), (std::set<std::string>{"oneA"}));
  EXPECT_EQ(Singleton::shared().lists()->front()->state(), ListElementState::DownloadedEnabled());
  EXPECT_EQ(state_.compileService->compilations, std::vector<bool>{false});
}

TEST_F(CatalogueRefreshTests, ConfigurationWithoutBothArraysChangesNothing) {
  configure(standardConfig());
  setLaunchCount(5);
  ASSERT_TRUE(refresh(tovel::CloudConfigSource::Remote));
  struct Case {
    const char* name;
    Dictionary raw;
  };
  const Case cases[] = {
      {"apps missing", Dictionary{{"lists", Array{list("new", 1)}}}},
      {"lists not dictionaries", Dictionary{{"lists", Array{1}}, {"apps", Array{}}}},
      {"empty configuration", Dictionary{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    configure(c.raw);
    EXPECT_FALSE(refresh(tovel::CloudConfigSource::Remote));
    EXPECT_EQ(listIDs(), (std::vector<std::string>{"oneA", "oneB", "three"}));
    EXPECT_EQ(appNames(), (std::vector<std::string>{"B", "a", "b"}));
  }
}

}  // namespace
}  // namespace fendrel
