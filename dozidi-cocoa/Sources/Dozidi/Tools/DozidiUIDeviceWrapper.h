#pragma once
#include <atomic>
#include <memory>

#include "platform/uikit/Application.h"

class DozidiDispatchQueueWrapper;

/// The reporter's way to the device's orientation and battery. While it lives it keeps
/// orientation notifications and battery monitoring on; stop() turns off only what this wrapper
/// turned on. It changes the device's state synchronously on the main queue, so creating or
/// stopping it from another thread waits until the main queue has run the change. The getters
/// read the device on the calling thread.
class DozidiUIDeviceWrapper {
 public:
  /// With the shared dependency container's dispatch-queue wrapper.
  static std::shared_ptr<DozidiUIDeviceWrapper> init();
  static std::shared_ptr<DozidiUIDeviceWrapper> initWithDispatchQueueWrapper(
      std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper);
  /// Stops.
  ~DozidiUIDeviceWrapper();

  /// Turns off what this wrapper turned on; later calls do nothing. The flags stay as they are.
  void stop();

  uikit::UIDeviceOrientation orientation() const;
  bool isBatteryMonitoringEnabled() const;
  uikit::UIDeviceBatteryState batteryState() const;
  float batteryLevel() const;

  bool cleanupDeviceOrientationNotifications() const { return cleanupDeviceOrientationNotifications_.load(); }
  bool cleanupBatteryMonitoring() const { return cleanupBatteryMonitoring_.load(); }

 private:
  explicit DozidiUIDeviceWrapper(std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper);

  // Written on the main queue, read by stop() there and by tests anywhere.
  std::atomic<bool> cleanupDeviceOrientationNotifications_{false};
  std::atomic<bool> cleanupBatteryMonitoring_{false};
  std::atomic<bool> stopped_{false};
  std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper_;
};
