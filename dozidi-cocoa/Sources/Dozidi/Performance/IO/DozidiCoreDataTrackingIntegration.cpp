#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiCoreDataTrackingIntegration.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiCoreDataSwizzling.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiCoreDataTracker.h"

std::uint32_t DozidiCoreDataTrackingIntegration::integrationOptions() const {
  return kIntegrationOptionEnableAutoPerformanceTracking | kIntegrationOptionEnableCoreDataTracking |
         kIntegrationOptionEnableSwizzling | kIntegrationOptionIsTracingEnabled;
}

bool DozidiCoreDataTrackingIntegration::installWithOptions(const DozidiOptions& options) {
  if (!DozidiBaseIntegration::installWithOptions(options)) return false;
  tracker_ = std::make_shared<DozidiCoreDataTracker>();
  DozidiCoreDataSwizzling::sharedInstance()->startWithMiddleware(tracker_);
  return true;
}

void DozidiCoreDataTrackingIntegration::uninstall() { DozidiCoreDataSwizzling::sharedInstance()->stop(); }

void DozidiCoreDataTrackingIntegration::registerWithSDK() {
  DozidiSDK::registerIntegration(
      "DozidiCoreDataTrackingIntegration", [] { return std::make_shared<DozidiCoreDataTrackingIntegration>(); },
      [](const DozidiIntegration& integration) {
        return dynamic_cast<const DozidiCoreDataTrackingIntegration*>(&integration) != nullptr;
      });
}
