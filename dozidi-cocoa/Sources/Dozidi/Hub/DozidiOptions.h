#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptionValues.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEventLevel.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSdkInfo.h"
#include "platform/foundation/Value.h"

class DozidiDsn;
namespace foundation {
class Error;
class URLSessionDelegate;
}  // namespace foundation

/// Every setting of the reporter: where to send, what to collect, sampling, callbacks and the
/// switch of each integration. Made with defaults and changed field by field, or from a
/// dictionary with validation. Changed at start-up, then only read (the client keeps it).
class DozidiOptions {
 public:
  /// Options with every default.
  static std::shared_ptr<DozidiOptions> create();
  /// Defaults, then the entries of `options` that have the right type. None when the DSN entry
  /// does not parse (the error, when `error` is given, says why); the failure is logged.
  static std::shared_ptr<DozidiOptions> initWithDict(const foundation::Dictionary& options, foundation::Error* error);

  /// The integrations installed at start, in this order.
  static std::vector<std::string> defaultIntegrations();
  /// True when `value` holds one of the reporter's callbacks.
  static bool isBlock(const foundation::Value& value);

  bool debug = false;
  bool enabled = true;
  bool enableCrashHandler = true;
  bool enableNetworkBreadcrumbs = true;
  bool enableAutoSessionTracking = true;
  bool enableOutOfMemoryTracking = true;
  bool attachStacktrace = true;
  bool stitchAsyncCode = false;
  bool sendDefaultPii = false;
  bool enableAutoPerformanceTracking = true;
  bool enableUIViewControllerTracking = true;
  bool attachScreenshot = false;
  bool attachViewHierarchy = false;
  bool enableUserInteractionTracing = false;
  bool enablePreWarmedAppStartTracking = false;
  bool enableNetworkTracking = true;
  bool enableFileIOTracking = false;
  bool enableSwizzling = true;
  bool enableCoreDataTracking = false;
  bool enableProfiling = false;
  bool sendClientReports = true;
  bool enableAppHangTracking = false;
  bool enableAutoBreadcrumbTracking = true;
  bool enableCaptureFailedRequests = false;
  DozidiEventLevel diagnosticLevel = DozidiEventLevel::Debug;
  /// "<bundle id>@<short version>+<build>" of the main bundle; none without bundle information.
  std::optional<std::string> releaseName;
  std::optional<std::string> dist;
  std::optional<std::string> environment;
  std::uint64_t maxBreadcrumbs = 100;
  std::uint64_t maxCacheItems = 30;
  DozidiBeforeSendCallback beforeSend;
  DozidiBeforeBreadcrumbCallback beforeBreadcrumb;
  DozidiOnCrashedLastRunCallback onCrashedLastRun;
  std::uint64_t sessionTrackingIntervalMillis = 30'000;
  std::uint64_t maxAttachmentSize = 20 * 1024 * 1024;
  double idleTimeout = 3.0;
  DozidiSamplerCallback tracesSampler;
  /// The main bundle's executable name, when the bundle names one.
  std::vector<std::string> inAppIncludes;
  std::vector<std::string> inAppExcludes;
  std::weak_ptr<foundation::URLSessionDelegate> urlSessionDelegate;
  DozidiSamplerCallback profilesSampler;
  double appHangTimeoutInterval = 2.0;
  /// Ranges of status codes that count as failed requests: 500 to 599 by default.
  std::vector<DozidiHttpStatusCodeRange> failedRequestStatusCodes{DozidiHttpStatusCodeRange(500, 599)};

  bool enableProfiling_DEPRECATED_TEST_ONLY() const { return enableProfiling; }
  void setEnableProfiling_DEPRECATED_TEST_ONLY(bool value) { enableProfiling = value; }

  const std::optional<std::string>& dsn() const { return dsn_; }
  /// Parses `dsn`; a DSN that does not parse is logged and leaves both `dsn` and `parsedDsn` empty.
  void setDsn(std::optional<std::string> dsn);
  const std::shared_ptr<DozidiDsn>& parsedDsn() const { return parsedDsn_; }

  const std::vector<std::string>& integrations() const { return integrations_; }
  /// Logs that choosing integrations by list is deprecated, then keeps the list.
  void setIntegrations(std::vector<std::string> integrations);

  const std::optional<double>& sampleRate() const { return sampleRate_; }
  /// A rate outside 0 to 1 stores the default rate 1; none clears the rate.
  void setSampleRate(std::optional<double> rate);
  const std::optional<double>& tracesSampleRate() const { return tracesSampleRate_; }
  /// A rate outside 0 to 1 clears the rate.
  void setTracesSampleRate(std::optional<double> rate);
  const std::optional<double>& profilesSampleRate() const { return profilesSampleRate_; }
  /// A rate outside 0 to 1 clears the rate.
  void setProfilesSampleRate(std::optional<double> rate);
  static bool isValidSampleRate(double rate);

  static constexpr double defaultSampleRate() { return 1.0; }
  static std::optional<double> defaultTracesSampleRate() { return std::nullopt; }
  static std::optional<double> defaultProfilesSampleRate() { return std::nullopt; }

  /// Texts and regular expressions naming the hosts that get trace headers. Other elements are
  /// logged as unsupported and kept.
  const foundation::Array& tracePropagationTargets() const { return tracePropagationTargets_; }
  void setTracePropagationTargets(foundation::Array targets);
  /// Texts and regular expressions naming the requests whose failures are captured; as above.
  const foundation::Array& failedRequestTargets() const { return failedRequestTargets_; }
  void setFailedRequestTargets(foundation::Array targets);

  void addInAppInclude(std::string include) { inAppIncludes.push_back(std::move(include)); }
  void addInAppExclude(std::string exclude) { inAppExcludes.push_back(std::move(exclude)); }

  /// Tracing is on with a positive traces rate or a traces sampler.
  bool isTracingEnabled() const;
  /// Profiling is on with a positive profiles rate, a profiles sampler or `enableProfiling`.
  bool isProfilingEnabled() const;
  /// The SDK's current name and version.
  DozidiSdkInfo sdkInfo() const;

 private:
  DozidiOptions();
  bool validateOptions(const foundation::Dictionary& options, foundation::Error* error);

  std::optional<std::string> dsn_;
  std::shared_ptr<DozidiDsn> parsedDsn_;
  std::vector<std::string> integrations_;
  std::optional<double> sampleRate_;
  std::optional<double> tracesSampleRate_;
  std::optional<double> profilesSampleRate_;
  foundation::Array tracePropagationTargets_;
  foundation::Array failedRequestTargets_;
};
