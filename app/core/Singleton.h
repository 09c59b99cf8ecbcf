#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "TovelCommon/Analytics.h"
#include "TovelCommon/CloudConfig.h"
#include "app/core/CloudObject.h"
#include "app/core/WhitelistElement.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/URL.h"

namespace foundation {
class UserDefaults;
}

namespace fendrel {

class ListElement;

/// The app's one state object: the settings store of the shared container, the remote
/// configuration, the analytics front end and the catalogue (filter lists and promoted apps).
///
/// Any thread may use it. The lazy members are each created once under a lock of their own; the
/// settings store is safe from any thread; the catalogue lists are published whole: a reader on
/// another thread gets either the old list or the new one as a snapshot it may keep.
/// As the analytics front end's external handler it adds the enabled filters to every event and
/// to the crash reporter's scope extras.
class Singleton final : public tovel::ExternalAnalyticsHandler,
                        public std::enable_shared_from_this<Singleton> {
 public:
  using ListElements = std::vector<std::shared_ptr<ListElement>>;
  using CloudObjects = std::vector<CloudObject>;

  /// The path of the configuration file on each configuration host.
  static constexpr const char* kConfigPath = "Skyvane/config1.7.json";
  /// The Pinvale project token of the app.
  static constexpr const char* kPinvaleToken = "7c41e09bd2a35f8816ea4c0d93b27f65";

  /// The one instance, created on first use and never destroyed.
  static Singleton& shared();
  /// Forgets every lazy member and empties the catalogue, so that the next use starts over on
  /// the current device root (tests and benchmarks start each case over). No other thread may
  /// use the object then.
  static void resetShared();

  /// The settings suite "group.com.morvit.Fendrel".
  std::shared_ptr<foundation::UserDefaults> userDefs();
  /// The remote configuration (created with the analytics front end, the main queue and shuffled
  /// hosts; its first refresh applies "analyticsEnabled").
  std::shared_ptr<tovel::CloudConfigProvider> cloudConfig();
  /// The analytics front end over a Pinvale client, with this object as its external handler.
  std::shared_ptr<tovel::AnalyticsTracker> analytics();
  /// Wraps the analytics front end the app makes (a Pinvale client behind the front end, this
  /// object as its external handler): `wrap` gets it and returns the tracker the app uses in its
  /// place, which hands every call on. How a program hosting the app listens in on what the app
  /// reports. Takes effect for a front end made after the call: set it before the first use of
  /// analytics(). None uses the app's own as it is.
  using AnalyticsWrapper =
      std::function<std::shared_ptr<tovel::AnalyticsTracker>(std::shared_ptr<tovel::AnalyticsTracker>)>;
  void setAnalyticsWrapper(AnalyticsWrapper wrap);
  /// Puts a collaborator in place of the one the app makes, before its first use (how tests and
  /// tools supply doubles); none goes back to the app's own.
  void setCloudConfig(std::shared_ptr<tovel::CloudConfigProvider> cloudConfig);
  void setAnalytics(std::shared_ptr<tovel::AnalyticsTracker> analytics);

  /// The filter lists in display order, as one immutable snapshot.
  std::shared_ptr<const ListElements> lists() const;
  /// Replaces the filter lists as a whole (on the main thread).
  void setLists(ListElements lists);
  /// The promoted apps in display order, as one immutable snapshot.
  std::shared_ptr<const CloudObjects> apps() const;
  void setApps(CloudObjects apps);

  // Remote settings: read from the configuration's "cloudConfig" section at every use, each with a
  // built-in default when the configuration, the key or the expected type is missing.
  bool analyticsEnabled();
  bool learnMoreEnabled();
  std::string learnMorePageUrl();
  foundation::URL settingsUrl();
  foundation::URL shareAppUrl();
  std::string shareText();
  std::string rateUrl();
  std::int64_t rateMinimumLaunches();
  std::string iTunesAffiliateToken();
  std::string iTunesCampaignToken();
  bool loadStoreForApps();

  /// The identifiers of the enabled filter lists (stored under "extConfigIDs"; anything but an
  /// array of strings reads as the empty set). Also stores the names of the enabled lists that
  /// the catalogue knows under "extConfigListNames" when that key does not already hold them.
  std::set<std::string> extConfigIDs();
  /// The names stored under "extConfigListNames"; none when missing, not an array of strings, or
  /// empty.
  std::optional<std::set<std::string>> extConfigListNames();
  /// For each identifier, the name of the first list of lists() that carries it; identifiers that
  /// no list carries give nothing.
  std::vector<std::string> listNames(const std::set<std::string>& forIDs) const;

  /// The whitelist's own errors (domain kErrorDomain).
  enum class Error : std::int64_t {
    noWhitelistEntry = 0,  ///< a position outside the whitelist
  };
  static constexpr const char* kErrorDomain = "Fendrel.Singleton.Error";

  /// The whitelist as stored under "whitelist"; entries of the wrong form are skipped, and the
  /// indexes count the kept entries.
  std::vector<WhitelistElement> whitelist();
  /// Stores `elements` as the whitelist, without a date stamp. Fails, storing nothing, when the
  /// settings store cannot hold a site (text that is not UTF-8) or cannot write the change.
  foundation::Result<void> setWhitelist(const std::vector<WhitelistElement>& elements);
  // Each change below reads, changes and writes the stored list as one step of the settings store,
  // so a change another process makes at the same time is kept, then stamps "whitelistDate". A
  // change that fails changes nothing and stamps nothing: the store's error for a site it cannot
  // hold (text that is not UTF-8) or a write that failed, noWhitelistEntry for a position outside
  // the list.
  /// Updates the first entry whose site is exactly `url` in place, or appends a new one.
  foundation::Result<void> addWhitelistElement(const std::string& url, bool enabled);
  /// Replaces the entry at `at`.
  foundation::Result<void> updateWhitelistElement(std::int64_t at, const std::string& url, bool enabled);
  /// Removes the entry at `at`.
  foundation::Result<void> removeWhitelistElement(std::int64_t at);
  /// Why a whitelist change failed, in the words the command line and the screens show:
  /// "no whitelist entry at that position (…)", "the settings cannot store that site (…)" or
  /// "the settings cannot be stored: <reason>".
  std::string whitelistFailureReason(const foundation::Error& error);
  /// When the whitelist last changed; the reference date before the first change.
  foundation::Date whitelistDate();
  /// The whitelist date at the last successful reload of the extension; the reference date before.
  foundation::Date whitelistCompiledDate();

  /// The number of launches stored under "launchCount" (0 when missing). The first read ever sends
  /// "firstLaunchEver" and stores "launchedEver"; of two processes reading at once, one sends it.
  std::int64_t launchCount();
  /// Adds one to "launchCount" as one step of the settings store, so no launch of another process
  /// is lost. Errors: the store could not write it.
  foundation::Result<void> countLaunch();

  /// {"enabledFilters": the enabled names, else the enabled identifiers}; the same map goes into
  /// the crash reporter's scope extras.
  std::optional<tovel::AnalyticsParameters> commonAnalyticsDimensions() override;
  /// Events sent by the front end; nothing to do here.
  void log(std::string_view event, const tovel::AnalyticsTexts& params) override;
  /// Switches the analytics front end on or off by "analyticsEnabled", whatever the source.
  void applyAnalyticsEnabled(tovel::CloudConfigSource source);

 private:
  struct Private {};

 public:
  explicit Singleton(Private) {}

 private:
  std::optional<tovel::CloudConfigValue> remoteValue(std::string_view key);
  /// Applies `change` to the stored whitelist entries as one step of the store, then stamps the
  /// date. `change` returns false to change nothing (a position outside the list).
  foundation::Result<void> changeWhitelist(const std::function<bool(std::vector<WhitelistElement>&)>& change);
  foundation::Result<void> stampWhitelistDate();
  void reset();

  mutable std::mutex userDefsLock_;
  std::shared_ptr<foundation::UserDefaults> userDefs_;
  mutable std::mutex analyticsLock_;
  std::shared_ptr<tovel::AnalyticsTracker> analytics_;
  AnalyticsWrapper analyticsWrapper_;
  mutable std::mutex cloudConfigLock_;
  std::shared_ptr<tovel::CloudConfigProvider> cloudConfig_;
  mutable std::mutex catalogueLock_;
  std::shared_ptr<const ListElements> lists_ = std::make_shared<const ListElements>();
  /// The name of the first list of lists_ carrying each identifier, published with lists_: the
  /// enabled set is read after every list download, and a scan of a catalogue of thousands of
  /// lists each time made the downloads quadratic.
  using NamesByID = std::unordered_map<std::string, std::string>;
  std::shared_ptr<const NamesByID> namesByID_ = std::make_shared<const NamesByID>();
  std::shared_ptr<const CloudObjects> apps_ = std::make_shared<const CloudObjects>();
  std::shared_ptr<const NamesByID> namesByID() const;
};

}  // namespace fendrel
