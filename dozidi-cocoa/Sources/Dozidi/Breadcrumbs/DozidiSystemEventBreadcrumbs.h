#pragma once
#include <cstdint>
#include <memory>
#include <optional>

class DozidiCurrentDateProvider;
class DozidiFileManager;
class DozidiNSNotificationCenterWrapper;

// Names of the device and system notifications recorded as breadcrumbs.
inline constexpr const char* kDozidiBatteryLevelDidChangeNotification = "UIDeviceBatteryLevelDidChangeNotification";
inline constexpr const char* kDozidiBatteryStateDidChangeNotification = "UIDeviceBatteryStateDidChangeNotification";
inline constexpr const char* kDozidiOrientationDidChangeNotification = "UIDeviceOrientationDidChangeNotification";
inline constexpr const char* kDozidiKeyboardDidShowNotification = "UIKeyboardDidShowNotification";
inline constexpr const char* kDozidiKeyboardDidHideNotification = "UIKeyboardDidHideNotification";
inline constexpr const char* kDozidiUserDidTakeScreenshotNotification = "UIApplicationUserDidTakeScreenshotNotification";
inline constexpr const char* kDozidiSystemTimeZoneDidChangeNotification = "NSSystemTimeZoneDidChangeNotification";

/// Battery states as the device reports them.
enum class DozidiBatteryState : int { Unknown = 0, Unplugged = 1, Charging = 2, Full = 3 };
/// Device orientations as the device reports them.
enum class DozidiDeviceOrientation : int {
  Unknown = 0, Portrait = 1, PortraitUpsideDown = 2, LandscapeLeft = 3, LandscapeRight = 4, FaceUp = 5, FaceDown = 6,
};

/// The device whose battery and orientation are recorded. A desktop has none of its own; a
/// device that has them (or a test) implements this. Called on the notifications' posting thread.
class DozidiSystemEventDevice {
 public:
  virtual ~DozidiSystemEventDevice() = default;
  virtual bool isBatteryMonitoringEnabled() const = 0;
  virtual void setBatteryMonitoringEnabled(bool enabled) = 0;
  virtual DozidiBatteryState batteryState() const = 0;
  /// 0.0 to 1.0, or -1.0 when unknown.
  virtual float batteryLevel() const = 0;
  virtual bool isGeneratingDeviceOrientationNotifications() const = 0;
  virtual void beginGeneratingDeviceOrientationNotifications() = 0;
  virtual DozidiDeviceOrientation orientation() const = 0;
};

/// Records breadcrumbs of device and system events: battery, orientation, keyboard, user
/// screenshots and time-zone changes (the last seen offset is kept in "timezone.offset", so a
/// change while the app was not running is recorded at the next start). Notifications are
/// handled on the posting thread.
class DozidiSystemEventBreadcrumbs {
 public:
  static std::shared_ptr<DozidiSystemEventBreadcrumbs> create(std::shared_ptr<DozidiFileManager> fileManager,
                                                              std::shared_ptr<DozidiCurrentDateProvider> currentDateProvider,
                                                              std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter);
  ~DozidiSystemEventBreadcrumbs();
  DozidiSystemEventBreadcrumbs(const DozidiSystemEventBreadcrumbs&) = delete;
  DozidiSystemEventBreadcrumbs& operator=(const DozidiSystemEventBreadcrumbs&) = delete;

  /// Starts without a device of its own: this desktop reports no battery or orientation.
  void start();
  /// With a device: battery and orientation too. Then keyboard, screenshot and time zone.
  void start(std::shared_ptr<DozidiSystemEventDevice> device);
  /// Ends every observation; battery monitoring and orientation notifications stay on.
  void stop();

 private:
  DozidiSystemEventBreadcrumbs() = default;

  void initBatteryObserver();
  void batteryStateChanged();
  void initOrientationObserver();
  void orientationChanged();
  void initKeyboardAndScreenshotObservers();
  void initTimezoneObserver();
  void timezoneEventTriggered();
  void timezoneEventTriggered(std::optional<std::int64_t> storedOffset);

  std::shared_ptr<DozidiFileManager> fileManager_;
  std::shared_ptr<DozidiCurrentDateProvider> currentDateProvider_;
  std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter_;
  std::shared_ptr<DozidiSystemEventDevice> device_;
};
