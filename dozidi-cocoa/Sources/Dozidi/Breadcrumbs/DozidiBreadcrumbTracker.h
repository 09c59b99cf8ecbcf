#pragma once
#include <memory>

class DozidiNSNotificationCenterWrapper;

/// Names of the application notifications the tracker turns into breadcrumbs.
inline constexpr const char* kDozidiDidReceiveMemoryWarningNotification = "UIApplicationDidReceiveMemoryWarningNotification";
inline constexpr const char* kDozidiAppDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kDozidiAppDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";

/// Records breadcrumbs of the app's lifecycle without the app's help: a "started" breadcrumb at
/// start, then low memory, background and foreground as their notifications arrive (on the
/// posting thread), while the current hub has a client.
class DozidiBreadcrumbTracker {
 public:
  static std::shared_ptr<DozidiBreadcrumbTracker> create(std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter);
  ~DozidiBreadcrumbTracker();
  DozidiBreadcrumbTracker(const DozidiBreadcrumbTracker&) = delete;
  DozidiBreadcrumbTracker& operator=(const DozidiBreadcrumbTracker&) = delete;

  /// Records the tracking-started breadcrumb and observes the three application notifications.
  void start();
  /// Ends the observations, so that a tracker of a later start is the only one recording.
  void stop();

 private:
  explicit DozidiBreadcrumbTracker(std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter)
      : notificationCenter_(std::move(notificationCenter)) {}

  std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter_;
};
