#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TovelCommon/CloudConfigValue.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"

namespace dispatch {
class DispatchQueue;
}
namespace foundation {
class UserDefaults;
class URLSession;
}  // namespace foundation

namespace tovel {

class AnalyticsTracker;
struct DataWithBaggage;

/// Where the current configuration came from: the cache of the previous launch or the network.
enum class CloudConfigSource : std::uint8_t { Local, Remote };

using RefreshCallback = std::function<void(CloudConfigSource)>;

/// The remote configuration as the rest of the app sees it.
class CloudConfigProvider {
 public:
  virtual ~CloudConfigProvider() = default;
  /// The whole top-level object of the current configuration; none until one is known.
  virtual std::optional<foundation::Dictionary> rawConfig() const = 0;
  /// The full URL of the configuration file that served rawConfig().
  virtual std::optional<foundation::URL> baseUrl() const = 0;
  /// Calls `callback` at once with the known source, if any; keeps it for the remote answer unless
  /// the configuration is remote already.
  virtual void addRefreshCallback(RefreshCallback callback) = 0;
  /// The value under `key` in the section "cloudConfig".
  virtual std::optional<CloudConfigValue> value(std::string_view key) const = 0;
  /// The value under `key` in `section`, or at the top level when `section` is none.
  virtual std::optional<CloudConfigValue> value(std::string_view key,
                                                std::optional<std::string_view> section) const = 0;
};

enum class ShuffleURLs : bool { No, Yes };

/// Keeps the app's remote configuration: one JSON object fetched from a short list of hosts that
/// serve the same file, cached scrambled in the settings store so that the previous answer is
/// available at once on the next launch.
///
/// The hosts are tried one after the other; after each full pass the next pass waits
/// ratio^passes seconds (at most kMaxRetryDelay), until one answer is good. After the first good
/// answer nothing more is fetched. Answers are handled on the URL session's queue; the state they
/// set is published under a lock before the refresh callbacks that announce it are queued on the
/// dispatch queue, so readers on any thread see it no later than the callbacks. Delayed retries
/// hold the object weakly: releasing it ends the fetching.
class CloudConfig final : public CloudConfigProvider, public std::enable_shared_from_this<CloudConfig> {
 public:
  using Source = CloudConfigSource;
  using Value = CloudConfigValue;

  /// The scrambled settings entries of the cache and their scrambling key.
  static constexpr const char* kDataKey = "CConfigData";
  static constexpr const char* kBaseKey = "CConfigBase";
  static constexpr const char* kScrambleKey = "harborLedgerQStoneMaps";
  /// Longest wait between two passes. Without a cap a long outage pushes the next attempt days
  /// ahead, and the growing power eventually overflows.
  static constexpr double kMaxRetryDelay = 15 * 60;
  /// Transport time-out of one configuration request, in seconds.
  static constexpr double kRequestTimeout = 60;
  /// Longest configuration answer taken, in bytes. The whole answer is held in memory and parsed,
  /// so a host that sends without end must not grow the app without bound; a real configuration
  /// is a few kilobytes.
  static constexpr std::int64_t kMaxAnswerBytes = 16 * 1024 * 1024;

  /// Builds the URLs (`configPath` appended to each base URL, shuffled once when asked), loads the
  /// cache and starts the first request. `initialRefreshCallback` is called on `dispatchQueue`
  /// with Local after a good cache load and with Remote after the first good answer. A null
  /// `dispatchQueue` means the main queue.
  static std::shared_ptr<CloudConfig> create(std::string_view configPath,
                                             std::shared_ptr<foundation::UserDefaults> userDefaults,
                                             std::shared_ptr<AnalyticsTracker> analytics,
                                             std::shared_ptr<dispatch::DispatchQueue> dispatchQueue,
                                             ShuffleURLs shuffleURLs, RefreshCallback initialRefreshCallback,
                                             double nextBackendSetDelayRatio = 2.0);

  /// The base URLs, in the order of the attempts before shuffling: the app's three hosts, or the
  /// comma-separated list in FENDREL_CONFIG_BASES. Read once per process.
  static const std::vector<foundation::URL>& baseURLs();

  std::optional<foundation::Dictionary> rawConfig() const override;
  std::optional<foundation::URL> baseUrl() const override;
  void addRefreshCallback(RefreshCallback callback) override;
  std::optional<Value> value(std::string_view key) const override;
  std::optional<Value> value(std::string_view key, std::optional<std::string_view> section) const override;

  /// Where rawConfig() came from; none until something is known.
  std::optional<Source> lastSource() const;
  /// The configuration file's URLs in the order of the attempts.
  const std::vector<foundation::URL>& configURLs() const { return configURLs_; }
  /// The wait before attempt `next`, in seconds: 0 inside a pass, ratio^(next / count) at the
  /// start of a new pass, capped at kMaxRetryDelay.
  static double retryDelay(std::int64_t next, std::size_t count, double ratio);

  ~CloudConfig() override;

 private:
  struct Private {};

 public:
  CloudConfig(Private, std::shared_ptr<foundation::UserDefaults> userDefaults,
              std::shared_ptr<AnalyticsTracker> analytics, std::shared_ptr<dispatch::DispatchQueue> dispatchQueue,
              RefreshCallback initialRefreshCallback, double nextBackendSetDelayRatio);

 private:
  void start();
  void fetch(std::int64_t attempt);
  void handleResponse(const foundation::Result<DataWithBaggage>& result, const foundation::URL& url,
                      std::int64_t attempt);
  void scheduleRetry(std::int64_t attempt);
  void notifyLocalRefresh();
  void notifyRemoteRefresh();
  std::shared_ptr<foundation::URLSession> session();

  std::vector<foundation::URL> configURLs_;
  const std::shared_ptr<foundation::UserDefaults> userDefaults_;
  const std::shared_ptr<AnalyticsTracker> analytics_;
  const std::shared_ptr<dispatch::DispatchQueue> dispatchQueue_;
  const double nextBackendSetDelayRatio_;
  const RefreshCallback initialRefreshCallback_;

  mutable std::mutex mutex_;  // guards everything below
  std::vector<RefreshCallback> remoteRefreshCallbacks_;
  std::optional<foundation::Dictionary> rawConfig_;
  std::optional<foundation::URL> baseUrl_;
  std::optional<Source> lastSource_;
  std::shared_ptr<foundation::URLSession> urlSession_;
};

}  // namespace tovel
