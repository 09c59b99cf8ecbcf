#pragma once
#include <memory>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/AppHangs/DozidiANRTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiBaseIntegration.h"

class DozidiEvent;
class DozidiThread;

/// Reports an app hang as an error event "App Hanging" with every thread's stack, the main
/// thread's first. Listens to the shared app-hang tracker from install to uninstall.
class DozidiANRTrackingIntegration final : public DozidiBaseIntegration,
                                           public DozidiANRTrackerDelegate,
                                           public std::enable_shared_from_this<DozidiANRTrackingIntegration> {
 public:
  std::string integrationName() const override { return "DozidiANRTrackingIntegration"; }
  std::uint32_t integrationOptions() const override {
    return kIntegrationOptionEnableAppHangTracking | kIntegrationOptionDebuggerNotAttached;
  }
  bool installWithOptions(const DozidiOptions& options) override;
  void uninstall() override;

  /// Captures the hang event; runs on the watchdog thread.
  void anrDetected() override;
  void anrStopped() override {}

  /// The event for a hang of at least `timeoutInterval` seconds over `threads` (main thread first).
  static std::shared_ptr<DozidiEvent> appHangEvent(double timeoutInterval,
                                                   std::vector<std::shared_ptr<DozidiThread>> threads);

  /// Makes the integration known to the SDK by its name.
  static void registerWithSDK();

 private:
  std::shared_ptr<DozidiANRTracker> tracker_;
  double timeoutInterval_ = 0;
};
