#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiUIDeviceWrapper.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"

std::shared_ptr<DozidiUIDeviceWrapper> DozidiUIDeviceWrapper::init() {
  return initWithDispatchQueueWrapper(DozidiDependencyContainer::sharedInstance()->dispatchQueueWrapper());
}

std::shared_ptr<DozidiUIDeviceWrapper> DozidiUIDeviceWrapper::initWithDispatchQueueWrapper(
    std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper) {
  return std::shared_ptr<DozidiUIDeviceWrapper>(new DozidiUIDeviceWrapper(std::move(dispatchQueueWrapper)));
}

DozidiUIDeviceWrapper::DozidiUIDeviceWrapper(std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper)
    : dispatchQueueWrapper_(std::move(dispatchQueueWrapper)) {
  dispatchQueueWrapper_->dispatchSyncOnMainQueue([this] {
    auto& device = uikit::UIDevice::current();
    if (!device.isGeneratingDeviceOrientationNotifications()) {
      cleanupDeviceOrientationNotifications_.store(true);
      device.beginGeneratingDeviceOrientationNotifications();
    }
    if (!device.isBatteryMonitoringEnabled()) {
      cleanupBatteryMonitoring_.store(true);
      device.setBatteryMonitoringEnabled(true);
    }
  });
}

DozidiUIDeviceWrapper::~DozidiUIDeviceWrapper() { stop(); }

void DozidiUIDeviceWrapper::stop() {
  // Once only: a second end (stop, then the destructor) would take back a begin of someone else.
  if (stopped_.exchange(true)) return;
  dispatchQueueWrapper_->dispatchSyncOnMainQueue([this] {
    auto& device = uikit::UIDevice::current();
    if (cleanupDeviceOrientationNotifications_.load()) device.endGeneratingDeviceOrientationNotifications();
    if (cleanupBatteryMonitoring_.load()) device.setBatteryMonitoringEnabled(false);
  });
}

uikit::UIDeviceOrientation DozidiUIDeviceWrapper::orientation() const { return uikit::UIDevice::current().orientation(); }

bool DozidiUIDeviceWrapper::isBatteryMonitoringEnabled() const {
  return uikit::UIDevice::current().isBatteryMonitoringEnabled();
}

uikit::UIDeviceBatteryState DozidiUIDeviceWrapper::batteryState() const {
  return uikit::UIDevice::current().batteryState();
}

float DozidiUIDeviceWrapper::batteryLevel() const { return uikit::UIDevice::current().batteryLevel(); }
