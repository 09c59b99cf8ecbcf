#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiFileIOTrackingIntegration.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiNSDataSwizzling.h"

std::uint32_t DozidiFileIOTrackingIntegration::integrationOptions() const {
  return kIntegrationOptionEnableAutoPerformanceTracking | kIntegrationOptionEnableFileIOTracking |
         kIntegrationOptionEnableSwizzling | kIntegrationOptionIsTracingEnabled;
}

bool DozidiFileIOTrackingIntegration::installWithOptions(const DozidiOptions& options) {
  if (!DozidiBaseIntegration::installWithOptions(options)) return false;
  DozidiNSDataSwizzling::start();
  return true;
}

void DozidiFileIOTrackingIntegration::uninstall() { DozidiNSDataSwizzling::stop(); }

void DozidiFileIOTrackingIntegration::registerWithSDK() {
  DozidiSDK::registerIntegration(
      "DozidiFileIOTrackingIntegration", [] { return std::make_shared<DozidiFileIOTrackingIntegration>(); },
      [](const DozidiIntegration& integration) {
        return dynamic_cast<const DozidiFileIOTrackingIntegration*>(&integration) != nullptr;
      });
}
