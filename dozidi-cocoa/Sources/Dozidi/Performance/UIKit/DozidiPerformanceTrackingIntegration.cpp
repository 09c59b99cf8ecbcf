#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiPerformanceTrackingIntegration.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIViewControllerPerformanceTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIViewControllerSwizzling.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSubClassFinder.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDefaultObjCRuntimeWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"

void DozidiPerformanceTrackingIntegration::registerWithSDK() {
  DozidiSDK::registerIntegration(
      "DozidiPerformanceTrackingIntegration", [] { return std::make_shared<DozidiPerformanceTrackingIntegration>(); },
      [](const DozidiIntegration& integration) {
        return dynamic_cast<const DozidiPerformanceTrackingIntegration*>(&integration) != nullptr;
      });
}

bool DozidiPerformanceTrackingIntegration::installWithOptions(const DozidiOptions& options) {
  if (!DozidiBaseIntegration::installWithOptions(options)) return false;
  auto queue = DozidiDispatchQueueWrapper::initWithName("dozidi-ui-view-controller-swizzling");
  swizzling_ = DozidiUIViewControllerSwizzling::initWithOptions(
      options, queue, DozidiSubClassFinder::initWithDispatchQueue(queue, DozidiDefaultObjCRuntimeWrapper::sharedInstance()),
      DozidiUIViewControllerPerformanceTracker::shared());
  swizzling_->start();
  return true;
}
