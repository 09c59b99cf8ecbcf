#pragma once
#include <memory>
#include <optional>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/AppHangs/DozidiANRTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiBaseIntegration.h"

class DozidiAppStateManager;
class DozidiOutOfMemoryScopeObserver;
class DozidiOutOfMemoryTracker;

/// Reports, at the next launch, a run that the system most likely ended for its memory. Keeps the
/// breadcrumbs on disk as they come and marks the app state while the app hangs, so that a kill
/// during a hang is not taken for a memory kill. Never installs under a test runner.
class DozidiOutOfMemoryTrackingIntegration final
    : public DozidiBaseIntegration,
      public DozidiANRTrackerDelegate,
      public std::enable_shared_from_this<DozidiOutOfMemoryTrackingIntegration> {
 public:
  /// Reads "XCTestConfigurationFilePath" from the environment.
  DozidiOutOfMemoryTrackingIntegration();

  std::string integrationName() const override { return "DozidiOutOfMemoryTrackingIntegration"; }
  std::uint32_t integrationOptions() const override { return kIntegrationOptionEnableOutOfMemoryTracking; }
  bool installWithOptions(const DozidiOptions& options) override;
  void uninstall() override;

  void anrDetected() override;
  void anrStopped() override;

  static void registerWithSDK();

 private:
  std::shared_ptr<DozidiOutOfMemoryTracker> tracker_;
  std::shared_ptr<DozidiANRTracker> anrTracker_;
  std::optional<std::string> testConfigurationFilePath_;
  std::shared_ptr<DozidiAppStateManager> appStateManager_;
  std::shared_ptr<DozidiOutOfMemoryScopeObserver> scopeObserver_;
};
