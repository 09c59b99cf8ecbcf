#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIEventTrackingIntegration.h"

#include "dozidi-cocoa/Sources/Dozidi/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIEventTracker.h"

void DozidiUIEventTrackingIntegration::registerWithSDK() {
  DozidiSDK::registerIntegration(
      "DozidiUIEventTrackingIntegration", [] { return std::make_shared<DozidiUIEventTrackingIntegration>(); },
      [](const DozidiIntegration& integration) {
        return dynamic_cast<const DozidiUIEventTrackingIntegration*>(&integration) != nullptr;
      });
}

bool DozidiUIEventTrackingIntegration::installWithOptions(const DozidiOptions& options) {
  if (!DozidiBaseIntegration::installWithOptions(options)) return false;
  uiEventTracker_ = DozidiUIEventTracker::initWithDispatchQueueWrapper(
      DozidiDependencyContainer::sharedInstance()->dispatchQueueWrapper(), options.idleTimeout);
  uiEventTracker_->start();
  return true;
}

void DozidiUIEventTrackingIntegration::uninstall() {
  if (uiEventTracker_) uiEventTracker_->stop();
}
