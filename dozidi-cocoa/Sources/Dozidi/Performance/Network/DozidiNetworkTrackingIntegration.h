#pragma once
#include <cstdint>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiBaseIntegration.h"

/// Network tracking: "http.client" spans with trace headers (tracing, automatic performance
/// tracking and network tracking on), "http" breadcrumbs (network breadcrumbs on) and failed-request
/// events (failed-request capture on), through replaced "resume" and "setState:" of the URL
/// session task classes. Needs swizzling; installs nothing when none of the three is on.
class DozidiNetworkTrackingIntegration final : public DozidiBaseIntegration {
 public:
  std::string integrationName() const override { return "DozidiNetworkTrackingIntegration"; }
  std::uint32_t integrationOptions() const override;
  bool installWithOptions(const DozidiOptions& options) override;
  /// Turns the tracker off; the replaced methods stay and pass straight through.
  void uninstall() override;

  /// Replaces "resume" and "setState:" of each task class to track, once per process.
  static void swizzleURLSessionTask();
  /// Makes the integration known to the SDK under its name.
  static void registerWithSDK();
};
