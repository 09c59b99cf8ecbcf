#pragma once
#include <memory>
#include <string>

#include "platform/foundation/Value.h"

class DozidiNSNotificationCenterWrapper;
class DozidiSwizzleWrapper;

namespace uikit {
class UIView;
class UIViewController;
}  // namespace uikit

/// Names of the application notifications the tracker turns into breadcrumbs.
inline constexpr const char* kDozidiDidReceiveMemoryWarningNotification = "UIApplicationDidReceiveMemoryWarningNotification";
inline constexpr const char* kDozidiAppDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kDozidiAppDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";

/// Records breadcrumbs of the app and its UI without the app's help, while the current hub has a
/// client: a "started" breadcrumb at start, low memory, background and foreground as their
/// notifications arrive (on the posting thread), and, once swizzled, a "touch" breadcrumb for
/// each control action the application sends and a "ui.lifecycle" breadcrumb for each screen
/// that appears (both on the main thread).
class DozidiBreadcrumbTracker {
 public:
  /// The key of the tracker's listener of the application's action dispatch.
  static constexpr const char* kSwizzleSendActionKey = "DozidiBreadcrumbTrackerSwizzleSendAction";

  static std::shared_ptr<DozidiBreadcrumbTracker> create(
      std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter,
      std::shared_ptr<DozidiSwizzleWrapper> swizzleWrapper);
  ~DozidiBreadcrumbTracker();
  DozidiBreadcrumbTracker(const DozidiBreadcrumbTracker&) = delete;
  DozidiBreadcrumbTracker& operator=(const DozidiBreadcrumbTracker&) = delete;

  /// Records the tracking-started breadcrumb and observes the three application notifications.
  void start();
  /// Listens to the application's action dispatch and replaces "viewDidAppear:" of every view
  /// controller (once per process: the replacement stays, and records only while a tracker is
  /// swizzled).
  void startSwizzle();
  /// Ends the observations and the listening, so that a tracker of a later start is the only one
  /// recording.
  void stop();

  /// "view" (the view's text form), "tag" (a number, only when 1 or more),
  /// "accessibilityIdentifier" (when not empty) and, for a button, "title" (its current title,
  /// when not empty).
  static foundation::Dictionary extractDataFromView(const uikit::UIView& view);
  /// "screen" (the controller's sanitized name), "title" (the navigation item's, else the
  /// controller's own, when not empty), "beingPresented", "presentingViewController" and
  /// "parentViewController" (when there is one), and, when the controller's view is in a
  /// window, "window", "window_isKeyWindow", "window_windowLevel" and
  /// "is_window_rootViewController". Main thread.
  static foundation::Dictionary fetchInfoAboutViewController(const uikit::UIViewController& controller);

 private:
  DozidiBreadcrumbTracker(std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter,
                          std::shared_ptr<DozidiSwizzleWrapper> swizzleWrapper)
      : notificationCenter_(std::move(notificationCenter)), swizzleWrapper_(std::move(swizzleWrapper)) {}

  std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter_;
  std::shared_ptr<DozidiSwizzleWrapper> swizzleWrapper_;
  bool swizzled_ = false;
};
