#pragma once
#include <memory>
#include <mutex>
#include <optional>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiBaseIntegration.h"
#include "platform/foundation/Date.h"

class DozidiCrashWrapper;
class DozidiCurrentDateProvider;
class DozidiNSNotificationCenterWrapper;
class DozidiOptions;
class DozidiOutOfMemoryLogic;

/// Starts and ends the current hub's sessions from the application's lifecycle notifications: a
/// session starts on the first activation, continues over short absences, and is ended (and a
/// new one started) after an absence of at least the session interval.
class DozidiSessionTracker {
 public:
  /// The notification a hybrid SDK posts when its app becomes active.
  static constexpr const char* kHybridSdkDidBecomeActive = "DozidiHybridSdkDidBecomeActive";

  DozidiSessionTracker(std::shared_ptr<const DozidiOptions> options,
                       std::shared_ptr<DozidiCurrentDateProvider> currentDateProvider,
                       std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter);
  ~DozidiSessionTracker();
  DozidiSessionTracker(const DozidiSessionTracker&) = delete;
  DozidiSessionTracker& operator=(const DozidiSessionTracker&) = delete;

  /// Closes the session the previous run left, then observes the notifications.
  void start();
  void stop();

 private:
  void didBecomeActive();
  void willResignActive();
  void willTerminate();
  void endCachedSession();

  std::shared_ptr<const DozidiOptions> options_;
  std::shared_ptr<DozidiCurrentDateProvider> currentDateProvider_;
  std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter_;
  std::mutex lock_;
  std::optional<foundation::Date> lastInForeground_;
  bool wasDidBecomeActiveCalled_ = false;
};

/// At start, turns the session the previous run left open into a crashed session when that run
/// crashed or ran out of memory; the next crash event carries it.
class DozidiSessionCrashedHandler {
 public:
  DozidiSessionCrashedHandler(std::shared_ptr<DozidiCrashWrapper> crashWrapper,
                              std::shared_ptr<DozidiOutOfMemoryLogic> outOfMemoryLogic);
  void endCurrentSessionAsCrashedWhenCrashOrOOM();

 private:
  std::shared_ptr<DozidiCrashWrapper> crashWrapper_;
  std::shared_ptr<DozidiOutOfMemoryLogic> outOfMemoryLogic_;
};

/// Tracks sessions automatically while `enableAutoSessionTracking` is on.
class DozidiAutoSessionTrackingIntegration final : public DozidiBaseIntegration {
 public:
  std::string integrationName() const override { return "DozidiAutoSessionTrackingIntegration"; }
  std::uint32_t integrationOptions() const override { return kIntegrationOptionEnableAutoSessionTracking; }
  bool installWithOptions(const DozidiOptions& options) override;
  void uninstall() override;

 private:
  std::unique_ptr<DozidiSessionTracker> tracker_;
};
