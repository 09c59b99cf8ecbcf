#include "app/core/Singleton.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "TovelCommon/Pinvale.h"
#include "app/core/ListElement.h"
#include "app/core/SettingsKeys.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/StringArray.h"
#include "platform/foundation/URLSession.h"
#include "platform/foundation/UserDefaults.h"

namespace fendrel {
namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::URL;
using foundation::Value;

using settings::kExtConfigIDsKey;
using settings::kExtConfigListNamesKey;
using settings::kLaunchCountKey;
using settings::kLaunchedEverKey;
using settings::kWhitelistCompiledDateKey;
using settings::kWhitelistDateKey;
using settings::kWhitelistKey;

// Defaults of the remote settings. The hosts are placeholders that the configuration replaces.
constexpr const char* kDefaultLearnMorePageUrl = "https://social.morvit.invalid/Fendrel";
constexpr const char* kOpenSettingsURLString = "app-settings:";
constexpr const char* kDefaultShareAppUrl = "https://store.morvit.invalid/fendrel";
constexpr const char* kDefaultShareText = "Please try this app, you'll like it!";
constexpr const char* kDefaultRateUrl =
    "itms-apps://store.morvit.invalid/WebObjects/MZStore.woa/wa/viewContentsUserReviews"
    "?type=Purple+Software&onlyLatestVersion=true&pageNumber=0&sortOrdering=1&id=1000000000";
constexpr std::int64_t kDefaultRateMinimumLaunches = 5;
constexpr const char* kDefaultITunesAffiliateToken = "4821qRzT";
constexpr const char* kDefaultITunesCampaignToken = "skyvane";

/// Stores a value the settings store can always hold (strings, numbers, dates and containers of
/// them); the store keeps a change it cannot write yet and writes it with the next one.
void store(foundation::UserDefaults& defaults, std::string_view key, const Value& value) {
  auto stored = defaults.set(key, value);
  (void)stored;
}

/// The strings of `array` as a set; none when any element is not a string.
std::optional<std::set<std::string>> stringSet(const Array& array) {
  std::set<std::string> strings;
  for (const auto& element : array) {
    const auto* s = element.string();
    if (!s) return std::nullopt;
    strings.insert(*s);
  }
  return strings;
}

/// The whitelist held by a stored value: entries of the wrong form are skipped, and one element
/// that is not a dictionary makes the whole value unreadable as a whitelist.
std::vector<WhitelistElement> whitelistElements(const Value& stored) {
  const Array* entries = stored.array();
  if (!entries) return {};
  for (const auto& entry : *entries) {
    if (!entry.dictionary()) return {};
  }
  std::vector<WhitelistElement> elements;
  for (const auto& entry : *entries) {
    auto url = entry["url"].asString();
    auto enabled = entry["enabled"].asBool();
    if (!url || !enabled) continue;
    elements.push_back({std::move(*url), *enabled, static_cast<std::int64_t>(elements.size())});
  }
  return elements;
}

Value whitelistValue(const std::vector<WhitelistElement>& elements) {
  Array array;
  array.reserve(elements.size());
  for (const auto& element : elements) array.push_back(Dictionary{{"url", element.url}, {"enabled", element.enabled}});
  return Value(std::move(array));
}

URL urlOr(const std::optional<URL>& url, const char* fallback) {
  if (url) return *url;
  return *URL::parse(fallback);
}

}  // namespace

Singleton& Singleton::shared() {
  // Never destroyed: worker threads may still use it while the process exits.
  static auto* instance = new std::shared_ptr<Singleton>(std::make_shared<Singleton>(Private{}));
  return **instance;
}

void Singleton::resetForTesting() { shared().reset(); }

void Singleton::reset() {
  {
    std::lock_guard lock(cloudConfigLock_);
    cloudConfig_.reset();
  }
  {
    std::lock_guard lock(analyticsLock_);
    analytics_.reset();
  }
  {
    std::lock_guard lock(userDefsLock_);
    userDefs_.reset();
  }
  std::lock_guard lock(catalogueLock_);
  lists_ = std::make_shared<const ListElements>();
  namesByID_ = std::make_shared<const NamesByID>();
  apps_ = std::make_shared<const CloudObjects>();
}

std::shared_ptr<foundation::UserDefaults> Singleton::userDefs() {
  std::lock_guard lock(userDefsLock_);
  if (!userDefs_) {
    userDefs_ = foundation::UserDefaults::suite(kAppGroupIdentifier);
    // The group id is a plain name, so the suite always exists; the standard store is the
    // fallback should that ever change.
    if (!userDefs_) userDefs_ = foundation::UserDefaults::standard();
  }
  return userDefs_;
}

std::shared_ptr<tovel::AnalyticsTracker> Singleton::analytics() {
  std::lock_guard lock(analyticsLock_);
  if (!analytics_) {
    tovel::Pinvale pinvale(kPinvaleToken, std::nullopt, foundation::URLSession::shared());
    std::shared_ptr<tovel::AnalyticsTracker> made = tovel::Analytics::create(pinvale, weak_from_this());
    analytics_ = analyticsWrapper_ ? analyticsWrapper_(std::move(made)) : std::move(made);
  }
  return analytics_;
}

void Singleton::setAnalyticsWrapper(AnalyticsWrapper wrap) {
  std::lock_guard lock(analyticsLock_);
  analyticsWrapper_ = std::move(wrap);
}

std::shared_ptr<tovel::CloudConfigProvider> Singleton::cloudConfig() {
  // The analytics front end is made first and outside this lock: making it must not wait for the
  // configuration, and the configuration's first refresh reads it.
  auto tracker = analytics();
  std::lock_guard lock(cloudConfigLock_);
  if (!cloudConfig_) {
    auto self = shared_from_this();
    cloudConfig_ = tovel::CloudConfig::create(
        kConfigPath, userDefs(), tracker, dispatch::DispatchQueue::main(), tovel::ShuffleURLs::Yes,
        [self](tovel::CloudConfigSource source) { self->applyAnalyticsEnabled(source); }, 2.0);
  }
  return cloudConfig_;
}

void Singleton::setCloudConfigForTesting(std::shared_ptr<tovel::CloudConfigProvider> cloudConfig) {
  std::lock_guard lock(cloudConfigLock_);
  cloudConfig_ = std::move(cloudConfig);
}

void Singleton::setAnalyticsForTesting(std::shared_ptr<tovel::AnalyticsTracker> analytics) {
  std::lock_guard lock(analyticsLock_);
  analytics_ = std::move(analytics);
}

std::shared_ptr<const Singleton::ListElements> Singleton::lists() const {
  std::lock_guard lock(catalogueLock_);
  return lists_;
}

std::shared_ptr<const Singleton::NamesByID> Singleton::namesByID() const {
  std::lock_guard lock(catalogueLock_);
  return namesByID_;
}

void Singleton::setLists(ListElements lists) {
  auto published = std::make_shared<const ListElements>(std::move(lists));
  auto names = std::make_shared<NamesByID>();
  for (const auto& element : *published) names->emplace(element->obj().objectId(), element->obj().name());
  std::shared_ptr<const ListElements> previous;
  {
    std::lock_guard lock(catalogueLock_);
    previous = std::exchange(lists_, std::move(published));
    namesByID_ = std::move(names);
  }
  // `previous` may hold the last references to the old elements: they go outside the lock.
}

std::shared_ptr<const Singleton::CloudObjects> Singleton::apps() const {
  std::lock_guard lock(catalogueLock_);
  return apps_;
}

void Singleton::setApps(CloudObjects apps) {
  auto published = std::make_shared<const CloudObjects>(std::move(apps));
  std::lock_guard lock(catalogueLock_);
  apps_ = std::move(published);
}

std::optional<tovel::CloudConfigValue> Singleton::remoteValue(std::string_view key) {
  auto config = cloudConfig();
  if (!config) return std::nullopt;
  return config->value(key);
}

bool Singleton::analyticsEnabled() {
  auto v = remoteValue("analyticsEnabled");
  return v ? v->boolean().value_or(true) : true;
}

bool Singleton::learnMoreEnabled() {
  auto v = remoteValue("learnMoreEnabled");
  return v ? v->boolean().value_or(true) : true;
}

std::string Singleton::learnMorePageUrl() {
  auto v = remoteValue("learnMorePageUrl");
  return v ? v->string().value_or(kDefaultLearnMorePageUrl) : kDefaultLearnMorePageUrl;
}

URL Singleton::settingsUrl() {
  auto v = remoteValue("settingsUrl");
  return urlOr(v ? v->url() : std::nullopt, kOpenSettingsURLString);
}

URL Singleton::shareAppUrl() {
  auto v = remoteValue("shareAppUrl");
  return urlOr(v ? v->url() : std::nullopt, kDefaultShareAppUrl);
}

std::string Singleton::shareText() {
  auto v = remoteValue("shareText");
  return v ? v->string().value_or(kDefaultShareText) : kDefaultShareText;
}

std::string Singleton::rateUrl() {
  auto v = remoteValue("rateUrl");
  return v ? v->string().value_or(kDefaultRateUrl) : kDefaultRateUrl;
}

std::int64_t Singleton::rateMinimumLaunches() {
  auto v = remoteValue("rateMinimumLaunches");
  return v ? v->integer().value_or(kDefaultRateMinimumLaunches) : kDefaultRateMinimumLaunches;
}

std::string Singleton::iTunesAffiliateToken() {
  auto v = remoteValue("iTunesAffiliateToken");
  return v ? v->string().value_or(kDefaultITunesAffiliateToken) : kDefaultITunesAffiliateToken;
}

std::string Singleton::iTunesCampaignToken() {
  auto v = remoteValue("iTunesCampaignToken");
  return v ? v->string().value_or(kDefaultITunesCampaignToken) : kDefaultITunesCampaignToken;
}

bool Singleton::loadStoreForApps() {
  auto v = remoteValue("loadStoreForApps");
  return v ? v->boolean().value_or(false) : false;
}

std::set<std::string> Singleton::extConfigIDs() {
  auto defaults = userDefs();
  std::set<std::string> ids;
  if (auto stored = defaults->array(kExtConfigIDsKey)) ids = stringSet(*stored).value_or(std::set<std::string>{});

  const auto found = listNames(ids);
  std::set<std::string> names(found.begin(), found.end());
  auto storedNames = extConfigListNames();
  if (!storedNames || *storedNames != names)
    store(*defaults, kExtConfigListNamesKey, foundation::arrayOfStrings(names));
  return ids;
}

std::optional<std::set<std::string>> Singleton::extConfigListNames() {
  auto stored = userDefs()->array(kExtConfigListNamesKey);
  if (!stored || stored->empty()) return std::nullopt;
  return stringSet(*stored);
}

std::vector<std::string> Singleton::listNames(const std::set<std::string>& forIDs) const {
  auto snapshot = namesByID();
  std::vector<std::string> names;
  for (const auto& id : forIDs) {
    if (auto found = snapshot->find(id); found != snapshot->end()) names.push_back(found->second);
  }
  return names;
}

std::vector<WhitelistElement> Singleton::whitelist() { return whitelistElements(userDefs()->object(kWhitelistKey)); }

foundation::Result<void> Singleton::setWhitelist(const std::vector<WhitelistElement>& elements) {
  // The store refuses text that is not UTF-8; the stored list then stays as it was.
  return userDefs()->set(kWhitelistKey, whitelistValue(elements));
}

foundation::Result<void> Singleton::changeWhitelist(
    const std::function<bool(std::vector<WhitelistElement>&)>& change) {
  bool inList = true;
  auto stored = userDefs()->update(kWhitelistKey, [&](Value& value) {
    auto elements = whitelistElements(value);
    inList = change(elements);
    if (inList) value = whitelistValue(elements);
  });
  if (!stored) return stored.error();
  if (!inList) {
    return foundation::Error::withDescription(kErrorDomain, static_cast<std::int64_t>(Error::noWhitelistEntry),
                                              "no whitelist entry at that position");
  }
  return stampWhitelistDate();
}

foundation::Result<void> Singleton::addWhitelistElement(const std::string& url, bool enabled) {
  return changeWhitelist([&](std::vector<WhitelistElement>& elements) {
    auto existing = std::find_if(elements.begin(), elements.end(), [&](const auto& e) { return e.url == url; });
    if (existing == elements.end()) {
      elements.push_back({url, enabled, static_cast<std::int64_t>(elements.size())});
    } else {
      existing->enabled = enabled;
    }
    return true;
  });
}

foundation::Result<void> Singleton::updateWhitelistElement(std::int64_t at, const std::string& url, bool enabled) {
  return changeWhitelist([&](std::vector<WhitelistElement>& elements) {
    if (at < 0 || static_cast<std::uint64_t>(at) >= elements.size()) return false;
    elements[static_cast<std::size_t>(at)] = {url, enabled, at};
    return true;
  });
}

foundation::Result<void> Singleton::removeWhitelistElement(std::int64_t at) {
  return changeWhitelist([&](std::vector<WhitelistElement>& elements) {
    if (at < 0 || static_cast<std::uint64_t>(at) >= elements.size()) return false;
    elements.erase(elements.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
  });
}

foundation::Result<void> Singleton::stampWhitelistDate() {
  return userDefs()->set(kWhitelistDateKey, foundation::Date::now());
}

foundation::Date Singleton::whitelistDate() {
  return userDefs()->date(kWhitelistDateKey).value_or(foundation::Date::referenceDate());
}

foundation::Date Singleton::whitelistCompiledDate() {
  return userDefs()->date(kWhitelistCompiledDateKey).value_or(foundation::Date::referenceDate());
}

std::int64_t Singleton::launchCount() {
  auto defaults = userDefs();
  bool first = false;
  // Test and set in one step: of two processes launching at once, only one sends the event. When
  // the flag cannot be stored the event is still sent: this launch is a first one all the same.
  (void)defaults->update(kLaunchedEverKey, [&first](Value& launched) {
    const foundation::Number* n = launched.number();
    if (n && n->boolValue()) return;
    first = true;
    launched = Value(true);
  });
  if (first) analytics()->log("firstLaunchEver", {}, tovel::Once::No);
  return defaults->integer(kLaunchCountKey);
}

foundation::Result<void> Singleton::countLaunch() {
  return userDefs()->update(kLaunchCountKey, [](Value& count) {
    const foundation::Number* n = count.number();
    const std::int64_t launches = n ? n->int64Value() : 0;
    // Saturates instead of overflowing; a count that high is not reached in practice.
    count = Value(launches == INT64_MAX ? launches : launches + 1);
  });
}

std::optional<tovel::AnalyticsParameters> Singleton::commonAnalyticsDimensions() {
  auto enabled = extConfigListNames();
  if (!enabled) enabled = extConfigIDs();
  Array filters = foundation::arrayOfStrings(*enabled);
  DozidiSDK::configureScope(
      [&filters](DozidiScope& scope) { scope.setExtras(Dictionary{{"enabledFilters", filters}}); });
  return tovel::AnalyticsParameters{{"enabledFilters", Value(std::move(filters))}};
}

void Singleton::log(std::string_view, const tovel::AnalyticsTexts&) {}

void Singleton::applyAnalyticsEnabled(tovel::CloudConfigSource) { analytics()->setEnabled(analyticsEnabled()); }

}  // namespace fendrel
