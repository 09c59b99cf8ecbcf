#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIEventTrackingIntegration.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIEventTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzleWrapper.h"

void DozidiUIEventTrackingIntegration::registerWithSDK() {
  DozidiSDK::registerIntegration(
      "DozidiUIEventTrackingIntegration", [] { return std::make_shared<DozidiUIEventTrackingIntegration>(); },
      [](const DozidiIntegration& integration) {
        return dynamic_cast<const DozidiUIEventTrackingIntegration*>(&integration) != nullptr;
      });
}

bool DozidiUIEventTrackingIntegration::installWithOptions(const DozidiOptions& options) {
  if (!DozidiBaseIntegration::installWithOptions(options)) return false;
  uiEventTracker_ = DozidiUIEventTracker::initWithSwizzleWrapper(
      DozidiSwizzleWrapper::sharedInstance(), DozidiDependencyContainer::sharedInstance()->dispatchQueueWrapper(),
      options.idleTimeout);
  uiEventTracker_->start();
  return true;
}

void DozidiUIEventTrackingIntegration::uninstall() {
  if (uiEventTracker_) uiEventTracker_->stop();
}
