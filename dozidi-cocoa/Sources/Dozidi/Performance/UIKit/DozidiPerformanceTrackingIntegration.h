#pragma once
#include <memory>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiBaseIntegration.h"

class DozidiUIViewControllerSwizzling;

/// Traces view controllers: starts `DozidiUIViewControllerSwizzling` when automatic performance
/// tracking, view-controller tracking, swizzling and tracing are all on; otherwise logs which
/// option keeps it off.
class DozidiPerformanceTrackingIntegration final : public DozidiBaseIntegration {
 public:
  /// Makes the integration known to the SDK under its name.
  static void registerWithSDK();

  std::string integrationName() const override { return "DozidiPerformanceTrackingIntegration"; }
  std::uint32_t integrationOptions() const override {
    return kIntegrationOptionEnableAutoPerformanceTracking | kIntegrationOptionEnableUIViewControllerTracking |
           kIntegrationOptionEnableSwizzling | kIntegrationOptionIsTracingEnabled;
  }
  /// Starts the swizzling on the installing thread.
  bool installWithOptions(const DozidiOptions& options) override;

  const std::shared_ptr<DozidiUIViewControllerSwizzling>& swizzling() const { return swizzling_; }

 private:
  std::shared_ptr<DozidiUIViewControllerSwizzling> swizzling_;
};
