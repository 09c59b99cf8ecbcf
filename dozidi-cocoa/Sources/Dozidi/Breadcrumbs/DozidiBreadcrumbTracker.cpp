#include "dozidi-cocoa/Sources/Dozidi/Breadcrumbs/DozidiBreadcrumbTracker.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiBreadcrumb.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "platform/foundation/NotificationCenter.h"

using foundation::Dictionary;

namespace {

/// Lifecycle and memory breadcrumbs describe the app to its client; without one they are dropped.
bool hasClient() { return DozidiSDK::currentHub()->getClient() != nullptr; }

void addLifecycleBreadcrumb(const char* state) {
  if (!hasClient()) return;
  auto crumb = DozidiBreadcrumb::initWithLevel(DozidiEventLevel::Info, "app.lifecycle");
  crumb->type = "navigation";
  crumb->data = Dictionary{{"state", state}};
  DozidiSDK::addBreadcrumb(std::move(crumb));
}

void addLowMemoryBreadcrumb() {
  if (!hasClient()) return;
  auto crumb = DozidiBreadcrumb::initWithLevel(DozidiEventLevel::Warning, "device.event");
  crumb->type = "system";
  crumb->message = "Low memory";
  crumb->data = Dictionary{{"action", "LOW_MEMORY"}};
  DozidiSDK::addBreadcrumb(std::move(crumb));
}

}  // namespace

std::shared_ptr<DozidiBreadcrumbTracker> DozidiBreadcrumbTracker::create(
    std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter) {
  return std::shared_ptr<DozidiBreadcrumbTracker>(new DozidiBreadcrumbTracker(std::move(notificationCenter)));
}

DozidiBreadcrumbTracker::~DozidiBreadcrumbTracker() { stop(); }

void DozidiBreadcrumbTracker::start() {
  auto started = DozidiBreadcrumb::initWithLevel(DozidiEventLevel::Info, "started");
  started->type = "debug";
  started->message = "Breadcrumb Tracking";
  DozidiSDK::addBreadcrumb(std::move(started));

  notificationCenter_->addObserver(this, kDozidiDidReceiveMemoryWarningNotification,
                                   [](const foundation::Notification&) { addLowMemoryBreadcrumb(); });
  notificationCenter_->addObserver(this, kDozidiAppDidEnterBackgroundNotification,
                                   [](const foundation::Notification&) { addLifecycleBreadcrumb("background"); });
  notificationCenter_->addObserver(this, kDozidiAppDidBecomeActiveNotification,
                                   [](const foundation::Notification&) { addLifecycleBreadcrumb("foreground"); });
}

void DozidiBreadcrumbTracker::stop() { notificationCenter_->removeObserver(this); }
