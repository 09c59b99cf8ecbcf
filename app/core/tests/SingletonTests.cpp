#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/core/ListElement.h"
#include "app/core/Singleton.h"
#include "app/core/tests/CoreDoubles.h"
#include "app/core/tests/CoreTestSupport.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "platform/foundation/UserDefaults.h"

namespace fendrel {
namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

const auto kBase = foundation::URL::parse("https://config.test/Skyvane/config1.7.json");

class SingletonTests : public ::testing::Test {
 protected:
  Singleton& app() { return Singleton::shared(); }
  foundation::UserDefaults& defaults() { return *app().userDefs(); }
  void store(std::string_view key, const Value& value) { ASSERT_TRUE(defaults().set(key, value)); }
  void setCloudConfig(Dictionary section) { state_.config->set(Dictionary{{"cloudConfig", std::move(section)}}, kBase); }
  /// A catalogue of cached lists with the given identifiers, named "List <id>". The files are
  /// cached first, so that no element starts a download to a host outside the machine.
  void setCatalogue(std::initializer_list<std::string> ids) {
    Singleton::ListElements elements;
    std::filesystem::create_directories(root_.cachesPath());
    for (const auto& id : ids) {
      std::ofstream(root_.cachesPath() + "/1600000000" + id + ".json") << "[]";
      auto obj =
          CloudObject::make(CloudObject::Kind::List,
                            test_support::listDictionary(id, "https://lists.test/" + id + ".json"), std::nullopt);
      elements.push_back(ListElement::make(*obj));
    }
    app().setLists(std::move(elements));
  }
  std::vector<std::string> storedStrings(std::string_view key) {
    std::vector<std::string> strings;
    if (auto array = defaults().array(key)) {
      for (const auto& v : *array) strings.push_back(v.asString().value_or("?"));
    }
    return strings;
  }

  test_support::ScopedManualClock clock_;
  test_support::ScopedDeviceRoot root_;
  test_support::ScopedAppState state_;
};

TEST_F(SingletonTests, RemoteSettingsFallBackToTheirDefaults) {
  // No configuration at all.
  EXPECT_TRUE(app().analyticsEnabled());
  EXPECT_FALSE(app().loadStoreForApps());
  EXPECT_EQ(app().rateMinimumLaunches(), 5);
  EXPECT_EQ(app().shareText(), "Please try this app, you'll like it!");
  EXPECT_EQ(app().iTunesAffiliateToken(), "4821qRzT");
  EXPECT_EQ(app().iTunesCampaignToken(), "skyvane");
  EXPECT_EQ(app().settingsUrl().absoluteString(), "app-settings:");
  EXPECT_TRUE(app().rateUrl().starts_with("itms-apps://"));

  setCloudConfig(Dictionary{{"rateMinimumLaunches", "3"}, {"analyticsEnabled", "false"},
                            {"loadStoreForApps", 2}, {"shareText", 7}, {"settingsUrl", "not a url"}});
  EXPECT_EQ(app().rateMinimumLaunches(), 5);
  EXPECT_TRUE(app().analyticsEnabled());
  EXPECT_FALSE(app().loadStoreForApps());
  EXPECT_EQ(app().shareText(), "Please try this app, you'll like it!");
  EXPECT_EQ(app().settingsUrl().absoluteString(), "app-settings:");
}

TEST_F(SingletonTests, RemoteSettingsReadTheConfiguration) {
  setCloudConfig(Dictionary{{"rateMinimumLaunches", 3}, {"analyticsEnabled", false}, {"loadStoreForApps", 1},
                            {"shareText", "Try it"}, {"settingsUrl", "settings/page"},
                            {"shareAppUrl", "https://share.test/app"}, {"learnMoreEnabled", 0.0}});
  EXPECT_EQ(app().rateMinimumLaunches(), 3);
  EXPECT_FALSE(app().analyticsEnabled());
  EXPECT_TRUE(app().loadStoreForApps());
  EXPECT_FALSE(app().learnMoreEnabled());
  EXPECT_EQ(app().shareText(), "Try it");
  EXPECT_EQ(app().settingsUrl().absoluteString(), "https://config.test/Skyvane/settings/page");
  EXPECT_EQ(app().shareAppUrl().absoluteString(), "https://share.test/app");

  app().applyAnalyticsEnabled(tovel::CloudConfigSource::Local);
  EXPECT_FALSE(state_.analytics->enabled());
}

TEST_F(SingletonTests, EnabledIdentifiersKeepTheKnownNamesInStep) {
  // Before the catalogue: the names are stored empty, which reads as none.
  store("extConfigIDs", Array{"l1", "gone"});
  EXPECT_EQ(app().extConfigIDs(), (std::set<std::string>{"gone", "l1"}));
  EXPECT_TRUE(defaults().array("extConfigListNames").has_value());
  EXPECT_FALSE(app().extConfigListNames());

  setCatalogue({"l1", "l2"});
  EXPECT_EQ(app().extConfigIDs(), (std::set<std::string>{"gone", "l1"}));
  EXPECT_EQ(storedStrings("extConfigListNames"), std::vector<std::string>{"List l1"});
  EXPECT_EQ(app().extConfigListNames(), std::set<std::string>{"List l1"});
  EXPECT_EQ(app().listNames({"gone", "l1", "l2"}), (std::vector<std::string>{"List l1", "List l2"}));

  store("extConfigIDs", Array{"l1", 5});  // a non-string makes the whole set empty
  EXPECT_TRUE(app().extConfigIDs().empty());
}

TEST_F(SingletonTests, DimensionsFollowTheEnabledFiltersIntoTheReporterScope) {
  store("extConfigIDs", Array{"l1"});
  // Reporter not started: the dimensions carry the identifiers (no names known), no scope changes.
  auto dimensions = app().commonAnalyticsDimensions();
  ASSERT_TRUE(dimensions);
  EXPECT_EQ(dimensions->at("enabledFilters"), Value(Array{"l1"}));
  EXPECT_TRUE(DozidiSDK::currentHub()->scope()->extras().empty());

  DozidiSDK::startWithOptions(Dictionary{{"dsn", "http://key@127.0.0.1:9/1"}});
  DozidiSDK::configureScope([](DozidiScope& scope) { scope.setExtras(Dictionary{{"other", 1}}); });
  setCatalogue({"l1"});
  app().extConfigIDs();
  dimensions = app().commonAnalyticsDimensions();
  EXPECT_EQ(dimensions->at("enabledFilters"), Value(Array{"List l1"}));
  EXPECT_EQ(DozidiSDK::currentHub()->scope()->extras(),
            (Dictionary{{"other", 1}, {"enabledFilters", Array{"List l1"}}}));
  // An event captured now carries them.
  auto hub = DozidiSDK::currentHub();
  auto event = hub->getClient()->prepareEvent(DozidiEvent::initWithLevel(DozidiEventLevel::Error), *hub->scope(), false);
  ASSERT_TRUE(event);
  EXPECT_EQ((*event->extra)["enabledFilters"], Value(Array{"List l1"}));

  store("extConfigIDs", Array{});
  store("extConfigListNames", Array{});
  app().commonAnalyticsDimensions();
  EXPECT_EQ(DozidiSDK::currentHub()->scope()->extras()["enabledFilters"], Value(Array{}));
  DozidiSDK::close();
}

TEST_F(SingletonTests, FirstLaunchIsReportedOnce) {
  EXPECT_EQ(app().launchCount(), 0);
  EXPECT_EQ(app().launchCount(), 0);
  EXPECT_EQ(state_.analytics->events(), std::vector<std::string>{"firstLaunchEver"});
  ASSERT_TRUE(app().countLaunch().ok());
  EXPECT_EQ(app().launchCount(), 1);
  EXPECT_EQ(state_.analytics->events().size(), 1u);
}

TEST_F(SingletonTests, WhitelistReadSkipsMalformedEntries) {
  store("whitelist", Array{Dictionary{{"url", "a.com"}, {"enabled", true}}, Dictionary{{"url", "b.com"}},
                           Dictionary{{"url", "c.com"}, {"enabled", 1}}, Dictionary{{"url", "d.com"}, {"enabled", false}}});
  std::vector<WhitelistElement> expected{{"a.com", true, 0}, {"d.com", false, 1}};
  EXPECT_EQ(app().whitelist(), expected);
  EXPECT_EQ(app().whitelistDate(), foundation::Date::referenceDate());
  EXPECT_EQ(app().whitelistCompiledDate(), foundation::Date::referenceDate());

  store("whitelist", Array{Dictionary{{"url", "a.com"}, {"enabled", true}}, "stray"});
  EXPECT_TRUE(app().whitelist().empty());
}

TEST_F(SingletonTests, WhitelistChangesStoreTheListAndStampTheDate) {
  EXPECT_TRUE(app().addWhitelistElement("a.com", true));
  EXPECT_EQ(app().whitelist(), (std::vector<WhitelistElement>{{"a.com", true, 0}}));
  auto firstStamp = app().whitelistDate();
  EXPECT_EQ(firstStamp, foundation::Date::now());

  clock_->advance(10);
  ASSERT_TRUE(app().addWhitelistElement("b.com", true));
  ASSERT_TRUE(app().addWhitelistElement("A.com", true));   // case-sensitive: a new entry
  ASSERT_TRUE(app().addWhitelistElement("a.com", false));  // present: flipped in place
  EXPECT_EQ(app().whitelist(),
            (std::vector<WhitelistElement>{{"a.com", false, 0}, {"b.com", true, 1}, {"A.com", true, 2}}));
  EXPECT_GT(app().whitelistDate(), firstStamp);
  auto stored = defaults().array("whitelist");
  ASSERT_TRUE(stored);
  EXPECT_EQ((*stored)[0], Value(Dictionary{{"url", "a.com"}, {"enabled", false}}));

  clock_->advance(10);
  EXPECT_TRUE(app().updateWhitelistElement(1, "b.org", false));
  EXPECT_TRUE(app().removeWhitelistElement(0));
  EXPECT_EQ(app().whitelist(), (std::vector<WhitelistElement>{{"b.org", false, 0}, {"A.com", true, 1}}));
  EXPECT_EQ(app().whitelistDate(), foundation::Date::now());

  // Positions outside the list change nothing and stamp nothing.
  clock_->advance(10);
  auto before = app().whitelist();
  auto stamp = app().whitelistDate();
  for (std::int64_t at : {-1, 2, 99}) {
    SCOPED_TRACE(at);
    EXPECT_FALSE(app().updateWhitelistElement(at, "x.com", true));
    EXPECT_FALSE(app().removeWhitelistElement(at));
  }
  EXPECT_EQ(app().whitelist(), before);
  EXPECT_EQ(app().whitelistDate(), stamp);

  // A site the settings store cannot hold (not UTF-8) is refused: nothing changes, nothing is stamped.
  const std::string notText = "bad\xff.com";
  EXPECT_FALSE(app().addWhitelistElement(notText, true));
  EXPECT_FALSE(app().updateWhitelistElement(0, notText, true));
  EXPECT_EQ(app().whitelist(), before);
  EXPECT_EQ(app().whitelistDate(), stamp);

  // Writing the list alone stamps nothing.
  EXPECT_TRUE(app().setWhitelist({{"z.com", true, 0}}));
  EXPECT_EQ(app().whitelistDate(), stamp);
}

TEST_F(SingletonTests, ListsArePublishedWhole) {
  setCatalogue({"l1", "l2", "l3"});
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!stop) {
      auto snapshot = app().lists();
      if (!snapshot->empty() && snapshot->size() != 3 && snapshot->size() != 1) ++torn;
      for (const auto& element : *snapshot) {
        if (element->obj().objectId().empty()) ++torn;
      }
      app().extConfigIDs();
    }
  });
  for (int i = 0; i < 50; ++i) {
    if (i % 2) {
      setCatalogue({"l1", "l2", "l3"});
    } else {
      setCatalogue({"x"});
    }
  }
  stop = true;
  reader.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace
}  // namespace fendrel
