#include "dozidi-cocoa/Sources/Dozidi/Breadcrumbs/DozidiAutoBreadcrumbTrackingIntegration.h"

#include "dozidi-cocoa/Sources/Dozidi/Breadcrumbs/DozidiBreadcrumbTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Breadcrumbs/DozidiSystemEventBreadcrumbs.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzleWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"

void DozidiAutoBreadcrumbTrackingIntegration::registerWithSDK() {
  DozidiSDK::registerIntegration(
      "DozidiAutoBreadcrumbTrackingIntegration",
      [] { return std::make_shared<DozidiAutoBreadcrumbTrackingIntegration>(); },
      [](const DozidiIntegration& integration) {
        return dynamic_cast<const DozidiAutoBreadcrumbTrackingIntegration*>(&integration) != nullptr;
      });
}

bool DozidiAutoBreadcrumbTrackingIntegration::installWithOptions(const DozidiOptions& options) {
  if (!DozidiBaseIntegration::installWithOptions(options)) return false;
  auto notificationCenter = DozidiDependencyContainer::sharedInstance()->notificationCenterWrapper();
  std::shared_ptr<DozidiSystemEventBreadcrumbs> systemEvents;
  // The time-zone offset lives in the client's cache folder; without one (no DSN) nothing is recorded anyway.
  if (auto client = DozidiSDK::currentHub()->getClient(); client && client->fileManager()) {
    systemEvents = DozidiSystemEventBreadcrumbs::create(client->fileManager(),
                                                        DozidiDefaultCurrentDateProvider::sharedInstance(), notificationCenter);
  }
  installWithOptions(options, DozidiBreadcrumbTracker::create(notificationCenter, DozidiSwizzleWrapper::sharedInstance()),
                     std::move(systemEvents));
  return true;
}

void DozidiAutoBreadcrumbTrackingIntegration::installWithOptions(
    const DozidiOptions& options, std::shared_ptr<DozidiBreadcrumbTracker> breadcrumbTracker,
    std::shared_ptr<DozidiSystemEventBreadcrumbs> systemEventBreadcrumbs) {
  breadcrumbTracker_ = std::move(breadcrumbTracker);
  breadcrumbTracker_->start();
  if (options.enableSwizzling) breadcrumbTracker_->startSwizzle();
  systemEventBreadcrumbs_ = std::move(systemEventBreadcrumbs);
  if (systemEventBreadcrumbs_) systemEventBreadcrumbs_->start();
}

void DozidiAutoBreadcrumbTrackingIntegration::uninstall() {
  if (breadcrumbTracker_) breadcrumbTracker_->stop();
  if (systemEventBreadcrumbs_) systemEventBreadcrumbs_->stop();
}
