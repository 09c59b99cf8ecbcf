#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiBaseIntegration.h"

class DozidiCoreDataTracker;

/// Traces the managed-object context's fetches and saves while a transaction is bound to the
/// scope. Needs tracing, automatic performance tracking, Core Data tracking and swizzling enabled.
class DozidiCoreDataTrackingIntegration final : public DozidiBaseIntegration {
 public:
  std::string integrationName() const override { return "DozidiCoreDataTrackingIntegration"; }
  std::uint32_t integrationOptions() const override;
  bool installWithOptions(const DozidiOptions& options) override;
  void uninstall() override;

  const std::shared_ptr<DozidiCoreDataTracker>& tracker() const { return tracker_; }
  /// Makes the integration known to the SDK under its name.
  static void registerWithSDK();

 private:
  std::shared_ptr<DozidiCoreDataTracker> tracker_;
};
