#include "TovelCommon/CloudConfig.h"

#include <cmath>
#include <cstdlib>
#include <utility>

#include "TovelCommon/Analytics.h"
#include "TovelCommon/URLSessionExtensions.h"
#include "TovelCommon/UserDefaultsExtensions.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/SystemCalls.h"
#include "platform/foundation/URLSession.h"
#include "platform/foundation/UserDefaults.h"

namespace tovel {
namespace {

using foundation::URL;

/// The three hosts that serve the same configuration file, in their fixed order.
constexpr const char* kDefaultBaseURLs[] = {
    "https://config-a.fendrel.invalid/",
    "https://config-b.fendrel.invalid/",
    "https://config-c.fendrel.invalid/config/",
};

std::vector<URL> readBaseURLs() {
  std::vector<URL> urls;
  const char* override = std::getenv("FENDREL_CONFIG_BASES");
  if (override && *override) {
    std::string_view list(override);
    while (!list.empty()) {
      const auto comma = list.find(',');
      std::string_view item = list.substr(0, comma);
      if (auto url = URL::parse(item)) urls.push_back(std::move(*url));
      list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    return urls;
  }
  for (const char* text : kDefaultBaseURLs) urls.push_back(*URL::parse(text));
  return urls;
}

/// A 64-bit word from the kernel's cryptographically secure random source.
std::uint64_t secureRandomWord() {
  std::uint64_t word = 0;
  (void)foundation::fillRandomBytes(&word, sizeof word);  // the kernel source is always there on Linux
  return word;
}

/// A uniform draw from 0 to bound-1: the high word of r * bound, rejecting the low words that
/// would favour some results.
std::uint64_t uniformBelow(std::uint64_t bound) {
  const std::uint64_t threshold = (0 - bound) % bound;  // (2^64 - bound) mod bound
  while (true) {
    const unsigned __int128 product = static_cast<unsigned __int128>(secureRandomWord()) * bound;
    if (static_cast<std::uint64_t>(product) >= threshold) return static_cast<std::uint64_t>(product >> 64);
  }
}

/// Fisher-Yates from the front.
void shuffle(std::vector<URL>& urls) {
  const std::size_t n = urls.size();
  if (n < 2) return;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const std::size_t j = static_cast<std::size_t>(uniformBelow(n - i));
    std::swap(urls[i], urls[i + j]);
  }
}

bool shuffleDisabledByEnvironment() {
  const char* value = std::getenv("FENDREL_NO_SHUFFLE");
  return value && std::string_view(value) == "1";
}

}  // namespace

const std::vector<URL>& CloudConfig::baseURLs() {
  static const std::vector<URL> urls = readBaseURLs();
  return urls;
}

double CloudConfig::retryDelay(std::int64_t next, std::size_t count, double ratio) {
  if (count == 0 || next <= 0 || next % static_cast<std::int64_t>(count) != 0) return 0;
  const double passes = static_cast<double>(next / static_cast<std::int64_t>(count));
  const double delay = std::pow(ratio, passes);
  if (std::isnan(delay) || delay < 0) return 0;
  return delay > kMaxRetryDelay ? kMaxRetryDelay : delay;
}

std::shared_ptr<CloudConfig> CloudConfig::create(std::string_view configPath,
                                                 std::shared_ptr<foundation::UserDefaults> userDefaults,
                                                 std::shared_ptr<AnalyticsTracker> analytics,
                                                 std::shared_ptr<dispatch::DispatchQueue> dispatchQueue,
                                                 ShuffleURLs shuffleURLs, RefreshCallback initialRefreshCallback,
                                                 double nextBackendSetDelayRatio) {
  // Callbacks and retries need a queue; without one they go to the main queue.
  if (!dispatchQueue) dispatchQueue = dispatch::DispatchQueue::main();
  auto config = std::make_shared<CloudConfig>(Private{}, std::move(userDefaults), std::move(analytics),
                                              std::move(dispatchQueue), std::move(initialRefreshCallback),
                                              nextBackendSetDelayRatio);
  for (const URL& base : baseURLs()) config->configURLs_.push_back(base.appendingPathComponent(configPath));
  if (shuffleURLs == ShuffleURLs::Yes && !shuffleDisabledByEnvironment()) shuffle(config->configURLs_);
  config->start();
  return config;
}

CloudConfig::CloudConfig(Private, std::shared_ptr<foundation::UserDefaults> userDefaults,
                         std::shared_ptr<AnalyticsTracker> analytics,
                         std::shared_ptr<dispatch::DispatchQueue> dispatchQueue, RefreshCallback initialRefreshCallback,
                         double nextBackendSetDelayRatio)
    : userDefaults_(std::move(userDefaults)),
      analytics_(std::move(analytics)),
      dispatchQueue_(std::move(dispatchQueue)),
      nextBackendSetDelayRatio_(nextBackendSetDelayRatio),
      initialRefreshCallback_(std::move(initialRefreshCallback)) {}

CloudConfig::~CloudConfig() = default;

void CloudConfig::start() {
  std::optional<foundation::Dictionary> data;
  std::optional<URL> base;
  if (userDefaults_) {
    if (auto value = scrambledObject(*userDefaults_, kDataKey, kScrambleKey); value && value->dictionary())
      data = *value->dictionary();
    if (auto value = scrambledObject(*userDefaults_, kBaseKey, kScrambleKey); value && value->string())
      base = URL::parse(*value->string());
  }
  if (data && base) {
    {
      std::lock_guard lock(mutex_);
      rawConfig_ = std::move(data);
      baseUrl_ = std::move(base);
      lastSource_ = Source::Local;
    }
    dispatchQueue_->async([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->notifyLocalRefresh();
    });
  }
  fetch(0);
}

std::shared_ptr<foundation::URLSession> CloudConfig::session() {
  std::lock_guard lock(mutex_);
  if (!urlSession_) {
    auto configuration = foundation::URLSessionConfiguration::ephemeralSessionConfiguration();
    configuration.waitsForConnectivity = true;
    urlSession_ = foundation::URLSession::create(configuration);
  }
  return urlSession_;
}

void CloudConfig::fetch(std::int64_t attempt) {
  if (configURLs_.empty()) return;
  const URL url = configURLs_[static_cast<std::size_t>(attempt % static_cast<std::int64_t>(configURLs_.size()))];
  // The completion keeps the object alive until the answer is handled.
  auto task = dataTask(*session(), url, foundation::URLRequestCachePolicy::UseProtocolCachePolicy, kRequestTimeout,
                       [self = shared_from_this(), url, attempt](foundation::Result<DataWithBaggage> result) {
                         self->handleResponse(result, url, attempt);
                       });
  task->setMaximumBodyLength(kMaxAnswerBytes);
  task->resume();
}

void CloudConfig::handleResponse(const foundation::Result<DataWithBaggage>& result, const URL& url,
                                 std::int64_t attempt) {
  if (!result) {
    if (analytics_)
      analytics_->log("errCloudConfigDownload",
                      {{"url", foundation::Value(url)}, {"error", foundation::Value(result.error())}}, Once::Yes);
    scheduleRetry(attempt);
    return;
  }
  auto json = foundation::JSONSerialization::JSONObjectWithData(result->data.view());
  if (!json || !json->dictionary()) {
    if (analytics_) analytics_->log("errCloudConfigJSON", {{"url", foundation::Value(url)}}, Once::Yes);
    scheduleRetry(attempt);
    return;
  }
  const foundation::Dictionary& object = *json->dictionary();
  if (const foundation::Value* error = object.find("error")) {
    if (analytics_)
      analytics_->log("errCloudConfigJSONErrorKey", {{"url", foundation::Value(url)}, {"error", *error}}, Once::Yes);
    scheduleRetry(attempt);
    return;
  }

  // The pair is written together or not at all: a new base beside an old configuration would
  // resolve the old configuration's relative links against the wrong host.
  if (userDefaults_ && setScrambled(*userDefaults_, foundation::Value(object), kDataKey, kScrambleKey))
    (void)setScrambled(*userDefaults_, foundation::Value(url.absoluteString()), kBaseKey, kScrambleKey);
  {
    std::lock_guard lock(mutex_);
    rawConfig_ = object;
    baseUrl_ = url;
    lastSource_ = Source::Remote;
  }
  notifyRemoteRefresh();
}

void CloudConfig::scheduleRetry(std::int64_t attempt) {
  const std::int64_t next = attempt + 1;
  const double delay = retryDelay(next, configURLs_.size(), nextBackendSetDelayRatio_);
  dispatchQueue_->asyncAfter(delay, [weak = weak_from_this(), next] {
    if (auto self = weak.lock()) self->fetch(next);
  });
}

void CloudConfig::notifyLocalRefresh() {
  if (initialRefreshCallback_) initialRefreshCallback_(Source::Local);
}

void CloudConfig::notifyRemoteRefresh() {
  dispatchQueue_->async([weak = weak_from_this()] {
    if (auto self = weak.lock()) {
      if (self->initialRefreshCallback_) self->initialRefreshCallback_(Source::Remote);
    }
    std::vector<RefreshCallback> callbacks;
    if (auto self = weak.lock()) {
      std::lock_guard lock(self->mutex_);
      callbacks.swap(self->remoteRefreshCallbacks_);
    }
    for (const RefreshCallback& callback : callbacks) {
      if (weak.expired()) return;
      callback(Source::Remote);
    }
  });
}

void CloudConfig::addRefreshCallback(RefreshCallback callback) {
  std::optional<Source> source;
  {
    std::lock_guard lock(mutex_);
    source = lastSource_;
    if (source != Source::Remote) remoteRefreshCallbacks_.push_back(callback);
  }
  if (source) callback(*source);
}

std::optional<foundation::Dictionary> CloudConfig::rawConfig() const {
  std::lock_guard lock(mutex_);
  return rawConfig_;
}

std::optional<URL> CloudConfig::baseUrl() const {
  std::lock_guard lock(mutex_);
  return baseUrl_;
}

std::optional<CloudConfig::Source> CloudConfig::lastSource() const {
  std::lock_guard lock(mutex_);
  return lastSource_;
}

std::optional<CloudConfigValue> CloudConfig::value(std::string_view key) const {
  return value(key, std::string_view("cloudConfig"));
}

std::optional<CloudConfigValue> CloudConfig::value(std::string_view key,
                                                   std::optional<std::string_view> section) const {
  std::lock_guard lock(mutex_);
  if (!baseUrl_ || !rawConfig_) return std::nullopt;
  const foundation::Dictionary* map = &*rawConfig_;
  if (section) {
    map = (*rawConfig_)[*section].dictionary();
    if (!map) return std::nullopt;
  }
  const foundation::Value* entry = map->find(key);
  if (!entry) return std::nullopt;
  return CloudConfigValue{*entry, *baseUrl_};
}

}  // namespace tovel
