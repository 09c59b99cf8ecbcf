#pragma once
#include <memory>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiBaseIntegration.h"

class DozidiBreadcrumbTracker;
class DozidiSystemEventBreadcrumbs;

/// Records breadcrumbs of the app's lifecycle, of device and system events and, with
/// `enableSwizzling`, of control actions and screens, while `enableAutoBreadcrumbTracking` is on.
/// Installed and uninstalled on the SDK's start and close.
class DozidiAutoBreadcrumbTrackingIntegration final : public DozidiBaseIntegration {
 public:
  static void registerWithSDK();
  std::string integrationName() const override { return "DozidiAutoBreadcrumbTrackingIntegration"; }
  std::uint32_t integrationOptions() const override { return kIntegrationOptionEnableAutoBreadcrumbTracking; }
  bool installWithOptions(const DozidiOptions& options) override;
  /// Keeps and starts both recorders; swizzles the tracker only with `enableSwizzling`.
  void installWithOptions(const DozidiOptions& options, std::shared_ptr<DozidiBreadcrumbTracker> breadcrumbTracker,
                          std::shared_ptr<DozidiSystemEventBreadcrumbs> systemEventBreadcrumbs);
  /// Stops both recorders: a later start's recorders are then the only ones.
  void uninstall() override;

 private:
  std::shared_ptr<DozidiBreadcrumbTracker> breadcrumbTracker_;
  std::shared_ptr<DozidiSystemEventBreadcrumbs> systemEventBreadcrumbs_;
};
