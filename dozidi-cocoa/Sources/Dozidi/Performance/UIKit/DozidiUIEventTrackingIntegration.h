#pragma once
#include <memory>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/DozidiBaseIntegration.h"

class DozidiUIEventTracker;

/// Traces user interactions: installs a `DozidiUIEventTracker` when automatic performance
/// tracking, user-interaction tracing, swizzling and tracing are all on; otherwise logs which
/// option keeps it off.
class DozidiUIEventTrackingIntegration final : public DozidiBaseIntegration {
 public:
  /// Makes the integration known to the SDK under its name.
  static void registerWithSDK();

  std::string integrationName() const override { return "DozidiUIEventTrackingIntegration"; }
  std::uint32_t integrationOptions() const override {
    return kIntegrationOptionEnableAutoPerformanceTracking | kIntegrationOptionEnableUserInteractionTracing |
           kIntegrationOptionEnableSwizzling | kIntegrationOptionIsTracingEnabled;
  }
  bool installWithOptions(const DozidiOptions& options) override;
  void uninstall() override;

  const std::shared_ptr<DozidiUIEventTracker>& uiEventTracker() const { return uiEventTracker_; }

 private:
  std::shared_ptr<DozidiUIEventTracker> uiEventTracker_;
};
