#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiBaseIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiAppStartMeasurement.h"
#include "platform/foundation/Date.h"

class DozidiAppState;
class DozidiAppStateManager;
class DozidiCurrentDateProvider;
class DozidiDispatchQueueWrapper;
class DozidiNSNotificationCenterWrapper;
class DozidiSysctl;

/// Names of the notifications that carry the app's start.
inline constexpr const char* kDozidiDidFinishLaunchingNotification = "UIApplicationDidFinishLaunchingNotification";
inline constexpr const char* kDozidiWindowDidBecomeVisibleNotification = "UIWindowDidBecomeVisibleNotification";
inline constexpr const char* kDozidiDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";

/// Measures how long the app took to start: from process start (or from module initialization
/// when the system prewarmed the process) to the first visible window, and whether the start was
/// cold or warm. The result goes once per process to `DozidiSDK::setAppStartMeasurement`.
/// Notifications arrive on the posting thread; the measurement runs on the thread that posted the
/// first visible-window notification.
class DozidiAppStartTracker : public std::enable_shared_from_this<DozidiAppStartTracker> {
 public:
  /// Starts longer than this are not measured (seconds).
  static constexpr double kMaxAppStartDuration = 180.0;

  /// Loads the previous run's app state from `appStateManager` (none when there is no manager).
  static std::shared_ptr<DozidiAppStartTracker> create(std::shared_ptr<DozidiCurrentDateProvider> currentDate,
                                                       std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue,
                                                       std::shared_ptr<DozidiAppStateManager> appStateManager,
                                                       std::shared_ptr<DozidiSysctl> sysctl,
                                                       bool enablePreWarmedAppStartTracking,
                                                       std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter);
  ~DozidiAppStartTracker();
  DozidiAppStartTracker(const DozidiAppStartTracker&) = delete;
  DozidiAppStartTracker& operator=(const DozidiAppStartTracker&) = delete;

  /// Observes the launch, visible-window and background notifications; in the hybrid-SDK mode
  /// measures at once. Then starts the app state manager.
  void start();
  /// Ends the three observations.
  void stop();
  /// Measures, at most once per process.
  void buildAppStartMeasurement();
  DozidiAppStartType getStartType() const;
  /// The system's prewarming exists on every system this runs on.
  bool isActivePrewarmAvailable() const { return true; }

  /// The date the tracker's code was loaded; replaceable (hybrid SDKs, tests).
  static void setRuntimeInit(foundation::Date date);
  static foundation::Date runtimeInit();
  /// Whether the process environment said "ActivePrewarm" = "1" when the library loaded.
  static bool activePrewarm();
  /// Replaces the prewarm flag read at load (tests).
  static void setActivePrewarm(bool value);
  /// Lets the next start measure again in this process (tests).
  static void resetMeasuredOnce();

 private:
  DozidiAppStartTracker() = default;

  void didFinishLaunching();
  void didEnterBackground();
  void measure();

  std::atomic<bool> wasInBackground_{false};
  bool enablePreWarmedAppStartTracking_ = false;
  std::shared_ptr<DozidiCurrentDateProvider> currentDate_;
  std::shared_ptr<DozidiAppState> previousAppState_;
  std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue_;
  std::shared_ptr<DozidiAppStateManager> appStateManager_;
  std::shared_ptr<DozidiSysctl> sysctl_;
  std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter_;
  mutable std::mutex lock_;
  foundation::Date didFinishLaunchingTimestamp_;
};

/// Installs the app-start tracker when automatic performance tracking and tracing are on (or
/// always, in the hybrid-SDK app-start mode).
class DozidiAppStartTrackingIntegration final : public DozidiBaseIntegration {
 public:
  static void registerWithSDK();
  std::string integrationName() const override { return "DozidiAppStartTrackingIntegration"; }
  std::uint32_t integrationOptions() const override {
    return kIntegrationOptionEnableAutoPerformanceTracking | kIntegrationOptionIsTracingEnabled;
  }
  bool installWithOptions(const DozidiOptions& options) override;
  void uninstall() override;
  void stop();

 private:
  std::shared_ptr<DozidiAppStartTracker> tracker_;
};
