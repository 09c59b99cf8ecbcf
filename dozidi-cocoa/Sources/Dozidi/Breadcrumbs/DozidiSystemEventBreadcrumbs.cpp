#include "dozidi-cocoa/Sources/Dozidi/Breadcrumbs/DozidiSystemEventBreadcrumbs.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiBreadcrumb.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"
#include "platform/foundation/NotificationCenter.h"

using foundation::Dictionary;

namespace {

std::shared_ptr<DozidiBreadcrumb> systemBreadcrumb(const char* category, const char* type, Dictionary data) {
  auto crumb = DozidiBreadcrumb::initWithLevel(DozidiEventLevel::Info, category);
  crumb->type = type;
  crumb->data = std::move(data);
  return crumb;
}

}  // namespace

std::shared_ptr<DozidiSystemEventBreadcrumbs> DozidiSystemEventBreadcrumbs::create(
    std::shared_ptr<DozidiFileManager> fileManager, std::shared_ptr<DozidiCurrentDateProvider> currentDateProvider,
    std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter) {
  std::shared_ptr<DozidiSystemEventBreadcrumbs> made(new DozidiSystemEventBreadcrumbs());
  made->fileManager_ = std::move(fileManager);
  made->currentDateProvider_ = std::move(currentDateProvider);
  made->notificationCenter_ = std::move(notificationCenter);
  return made;
}

DozidiSystemEventBreadcrumbs::~DozidiSystemEventBreadcrumbs() { stop(); }

void DozidiSystemEventBreadcrumbs::start() { start(nullptr); }

void DozidiSystemEventBreadcrumbs::start(std::shared_ptr<DozidiSystemEventDevice> device) {
  device_ = std::move(device);
  if (device_) {
    initBatteryObserver();
    initOrientationObserver();
  } else {
    DOZIDI_LOG_DEBUG("currentDevice is null, it won't be able to record breadcrumbs for device battery and orientation.");
  }
  initKeyboardAndScreenshotObservers();
  initTimezoneObserver();
}

void DozidiSystemEventBreadcrumbs::stop() { notificationCenter_->removeObserver(this); }

void DozidiSystemEventBreadcrumbs::initBatteryObserver() {
  if (!device_->isBatteryMonitoringEnabled()) device_->setBatteryMonitoringEnabled(true);
  for (const char* name : {kDozidiBatteryLevelDidChangeNotification, kDozidiBatteryStateDidChangeNotification})
    notificationCenter_->addObserver(this, name, [this](const foundation::Notification&) { batteryStateChanged(); });
}

void DozidiSystemEventBreadcrumbs::batteryStateChanged() {
  const auto state = device_->batteryState();
  const float level = device_->batteryLevel();
  Dictionary data{{"action", "BATTERY_STATE_CHANGE"}};
  if (state == DozidiBatteryState::Unknown || level == -1.0f) {
    DOZIDI_LOG_DEBUG("batteryLevel is unknown.");
  } else {
    data.set("level", level * 100.0f);
  }
  data.set("plugged", state == DozidiBatteryState::Charging || state == DozidiBatteryState::Full);
  DozidiSDK::addBreadcrumb(systemBreadcrumb("device.event", "system", std::move(data)));
}

void DozidiSystemEventBreadcrumbs::initOrientationObserver() {
  if (!device_->isGeneratingDeviceOrientationNotifications()) device_->beginGeneratingDeviceOrientationNotifications();
  notificationCenter_->addObserver(this, kDozidiOrientationDidChangeNotification,
                                   [this](const foundation::Notification&) { orientationChanged(); });
}

void DozidiSystemEventBreadcrumbs::orientationChanged() {
  const char* position = nullptr;
  switch (device_->orientation()) {
    case DozidiDeviceOrientation::Portrait:
    case DozidiDeviceOrientation::PortraitUpsideDown: position = "portrait"; break;
    case DozidiDeviceOrientation::LandscapeLeft:
    case DozidiDeviceOrientation::LandscapeRight: position = "landscape"; break;
    default:
      DOZIDI_LOG_DEBUG("currentOrientation is unknown.");
      return;
  }
  DozidiSDK::addBreadcrumb(systemBreadcrumb("device.orientation", "navigation", Dictionary{{"position", position}}));
}

void DozidiSystemEventBreadcrumbs::initKeyboardAndScreenshotObservers() {
  for (const char* name :
       {kDozidiKeyboardDidShowNotification, kDozidiKeyboardDidHideNotification, kDozidiUserDidTakeScreenshotNotification}) {
    notificationCenter_->addObserver(this, name, [](const foundation::Notification& notification) {
      DozidiSDK::addBreadcrumb(systemBreadcrumb("device.event", "system", Dictionary{{"action", notification.name}}));
    });
  }
}

void DozidiSystemEventBreadcrumbs::initTimezoneObserver() {
  const auto stored = fileManager_->readTimezoneOffset();
  if (!stored) {
    fileManager_->storeTimezoneOffset(currentDateProvider_->timezoneOffset());
  } else if (static_cast<double>(*stored) != static_cast<double>(currentDateProvider_->timezoneOffset())) {
    timezoneEventTriggered(stored);
  }
  notificationCenter_->addObserver(this, kDozidiSystemTimeZoneDidChangeNotification,
                                   [this](const foundation::Notification&) { timezoneEventTriggered(); });
}

void DozidiSystemEventBreadcrumbs::timezoneEventTriggered() { timezoneEventTriggered(fileManager_->readTimezoneOffset()); }

void DozidiSystemEventBreadcrumbs::timezoneEventTriggered(std::optional<std::int64_t> storedOffset) {
  const std::int64_t current = currentDateProvider_->timezoneOffset();
  Dictionary data{{"action", "TIMEZONE_CHANGE"}};
  if (storedOffset) data.set("previous_seconds_from_gmt", *storedOffset);
  data.set("current_seconds_from_gmt", current);
  DozidiSDK::addBreadcrumb(systemBreadcrumb("device.event", "system", std::move(data)));
  fileManager_->storeTimezoneOffset(current);
}
