#pragma once
#include <cstdint>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiBaseIntegration.h"

/// Traces file reads and writes of the data object while a transaction is bound to the scope.
/// Needs tracing, automatic performance tracking, file I/O tracking and swizzling enabled.
class DozidiFileIOTrackingIntegration final : public DozidiBaseIntegration {
 public:
  std::string integrationName() const override { return "DozidiFileIOTrackingIntegration"; }
  std::uint32_t integrationOptions() const override;
  bool installWithOptions(const DozidiOptions& options) override;
  void uninstall() override;

  /// Makes the integration known to the SDK under its name.
  static void registerWithSDK();
};
