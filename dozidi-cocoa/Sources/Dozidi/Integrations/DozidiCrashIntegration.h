#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiBaseIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"

class DozidiAppStateManager;
class DozidiCrashInstallationReporter;
class DozidiCrashWrapper;
class DozidiDispatchQueueWrapper;
class DozidiSessionCrashedHandler;

/// Writes every scope change into the crash-time scope mirror as JSON text, so that a report
/// carries the scope as it was at the crash. Values that cannot be encoded keep the previous one.
class DozidiCrashScopeObserver final : public DozidiScopeObserver {
 public:
  explicit DozidiCrashScopeObserver(std::int64_t maxBreadcrumbs);
  void setUser(const std::shared_ptr<DozidiUser>& user) override;
  void setTags(const foundation::Dictionary& tags) override;
  void setExtras(const foundation::Dictionary& extras) override;
  void setContext(const foundation::Dictionary& context) override;
  void setDist(const std::optional<std::string>& dist) override;
  void setEnvironment(const std::optional<std::string>& environment) override;
  void setFingerprint(const std::vector<std::string>& fingerprint) override;
  void setLevel(DozidiEventLevel level) override;
  void addSerializedBreadcrumb(const foundation::Dictionary& crumb) override;
  void clearBreadcrumbs() override;
  void clear() override;
};

/// Starts the crash recorder once per process when the SDK starts: installs the delivery
/// installation, ends a session the last run left open by crashing, has the previous run's
/// reports sent, copies the scope into every later report's "user" section, mirrors the scope for
/// crash time and fills the scope's "os", "device" and "app" contexts from the system's facts.
class DozidiCrashIntegration final : public DozidiBaseIntegration {
 public:
  DozidiCrashIntegration();
  DozidiCrashIntegration(std::shared_ptr<DozidiCrashWrapper> crashAdapter,
                         std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper);
  ~DozidiCrashIntegration() override;

  std::string integrationName() const override { return "DozidiCrashIntegration"; }
  std::uint32_t integrationOptions() const override { return kIntegrationOptionEnableCrashHandler; }
  bool installWithOptions(const DozidiOptions& options) override;
  void uninstall() override;

  /// Makes the installation on the first call of the process and sends the stored reports; later
  /// calls (after an uninstall) install it again without sending.
  void startCrashHandler();
  void configureScope();
  static void sendAllDozidiCrashReports();
  static void enrichScope(DozidiScope& scope, DozidiCrashWrapper& crashWrapper);
  void currentLocaleDidChange();

  /// Makes the integration known to the SDK by its name. A program calls it before it starts the
  /// SDK; until then a start installs no crash recorder (test programs stay free of its signal
  /// handlers).
  static void registerWithSDK();
  /// The process-wide installation; none before the first start.
  static std::shared_ptr<DozidiCrashInstallationReporter> installation();

 private:
  struct Settings {
    std::optional<std::string> releaseName, dist;
    std::vector<std::string> inAppIncludes, inAppExcludes;
    bool stitchAsyncCode = false;
  };
  Settings settings_;
  std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper_;
  std::shared_ptr<DozidiCrashWrapper> crashAdapter_;
  std::shared_ptr<DozidiSessionCrashedHandler> crashedSessionHandler_;
  std::shared_ptr<DozidiCrashScopeObserver> scopeObserver_;
  std::shared_ptr<DozidiAppStateManager> appStateManager_;
};

/// The locale identifier of the environment ("en_US" from LC_ALL, LC_MESSAGES or LANG), or
/// "en_US_POSIX" when none is set.
std::string dozidi_currentLocaleIdentifier();
