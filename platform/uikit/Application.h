#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/runtime/Methods.h"
#include "platform/uikit/Geometry.h"
#include "platform/uikit/Window.h"

namespace uikit {

/// The device's screen. Tests and the desktop window set its size and scale.
class UIScreen {
 public:
  static UIScreen& main();
  CGRect bounds() const { return bounds_; }
  double scale() const { return scale_; }
  void setBounds(const CGRect& bounds) { bounds_ = bounds; }
  void setScale(double scale) { scale_ = scale; }

 private:
  CGRect bounds_{0, 0, 390, 844};
  double scale_ = 3.0;
};

enum class UIUserInterfaceIdiom : int { Unspecified = -1, Phone = 0, Pad = 1 };
enum class UIDeviceOrientation : int {
  Unknown = 0, Portrait = 1, PortraitUpsideDown = 2, LandscapeLeft = 3, LandscapeRight = 4, FaceUp = 5, FaceDown = 6,
};
enum class UIDeviceBatteryState : int { Unknown = 0, Unplugged = 1, Charging = 2, Full = 3 };

/// Facts of the device that code branches on, settable per test. The orientation and battery
/// switches are main-thread state, as on the platform; the values behind them are plain facts a
/// test (or the desktop) sets.
class UIDevice {
 public:
  static UIDevice& current();
  /// "17.0" by default.
  std::string systemVersion = "17.0";
  UIUserInterfaceIdiom userInterfaceIdiom = UIUserInterfaceIdiom::Phone;
  /// True when the system version is at least major.minor.
  bool isAtLeast(int major, int minor = 0) const;

  /// Orientation notifications: counted, so that each begin needs its own end.
  bool isGeneratingDeviceOrientationNotifications() const { return orientationGenerators_.load() > 0; }
  void beginGeneratingDeviceOrientationNotifications() { ++orientationGenerators_; }
  void endGeneratingDeviceOrientationNotifications();
  /// Unknown while nothing generates orientation notifications.
  UIDeviceOrientation orientation() const;
  void setOrientation(UIDeviceOrientation orientation) { orientation_.store(orientation); }

  bool isBatteryMonitoringEnabled() const { return batteryMonitoring_.load(); }
  void setBatteryMonitoringEnabled(bool enabled) { batteryMonitoring_.store(enabled); }
  /// Unknown and -1 while battery monitoring is off, as on the platform.
  UIDeviceBatteryState batteryState() const;
  float batteryLevel() const;
  void setBattery(UIDeviceBatteryState state, float level);

 private:
  std::atomic<int> orientationGenerators_{0};
  std::atomic<UIDeviceOrientation> orientation_{UIDeviceOrientation::Portrait};
  std::atomic<bool> batteryMonitoring_{false};
  std::atomic<UIDeviceBatteryState> batteryState_{UIDeviceBatteryState::Unplugged};
  std::atomic<float> batteryLevel_{1.0f};
};

enum class UISceneActivationState : int {
  Unattached = -1, ForegroundActive = 0, ForegroundInactive = 1, Background = 2,
};

/// A scene of the application, as data: its activation state, its windows and its bounds.
class UIWindowScene : public std::enable_shared_from_this<UIWindowScene> {
 public:
  static std::shared_ptr<UIWindowScene> create(UISceneActivationState state = UISceneActivationState::ForegroundActive,
                                               const CGRect& bounds = UIScreen::main().bounds());
  UISceneActivationState activationState = UISceneActivationState::ForegroundActive;
  /// The bounds of the scene's coordinate space.
  CGRect coordinateSpaceBounds;
  /// The windows of the scene that still exist, in the order they joined it.
  std::vector<std::shared_ptr<UIWindow>> windows() const;

 private:
  friend class UIWindow;
  std::vector<std::weak_ptr<UIWindow>> windows_;
};

enum class UIApplicationState : int { Active = 0, Inactive = 1, Background = 2 };
enum class UIStatusBarStyle : int { Default = 0, LightContent = 1, DarkContent = 3 };

// Notification names the application and the keyboard post.
inline constexpr const char* UIApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* UIApplicationWillResignActiveNotification = "UIApplicationWillResignActiveNotification";
inline constexpr const char* UIApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* UIApplicationWillEnterForegroundNotification =
    "UIApplicationWillEnterForegroundNotification";
/// Posted the first time a window of the desktop shows on the screen.
inline constexpr const char* UIWindowDidBecomeVisibleNotification = "UIWindowDidBecomeVisibleNotification";
inline constexpr const char* UIDeviceOrientationDidChangeNotification = "UIDeviceOrientationDidChangeNotification";
inline constexpr const char* UIKeyboardWillShowNotification = "UIKeyboardWillShowNotification";
inline constexpr const char* UIKeyboardDidShowNotification = "UIKeyboardDidShowNotification";
inline constexpr const char* UIKeyboardWillHideNotification = "UIKeyboardWillHideNotification";
inline constexpr const char* UIKeyboardDidHideNotification = "UIKeyboardDidHideNotification";
inline constexpr const char* UIKeyboardWillChangeFrameNotification = "UIKeyboardWillChangeFrameNotification";
inline constexpr const char* UIKeyboardFrameBeginUserInfoKey = "UIKeyboardFrameBeginUserInfoKey";
inline constexpr const char* UIKeyboardFrameEndUserInfoKey = "UIKeyboardFrameEndUserInfoKey";
inline constexpr const char* UIKeyboardAnimationDurationUserInfoKey = "UIKeyboardAnimationDurationUserInfoKey";
inline constexpr const char* UIKeyboardAnimationCurveUserInfoKey = "UIKeyboardAnimationCurveUserInfoKey";

/// A rectangle boxed for a notification's user info.
foundation::Value boxRect(const CGRect& rect);
/// The rectangle in a boxed value; none for a value of any other kind.
std::optional<CGRect> unboxRect(const foundation::Value& value);

/// Hands a URL to whatever opens it; calls `completion` with whether it was opened.
using URLOpener = std::function<void(const std::string& url, const foundation::Dictionary& options,
                                     std::function<void(bool)> completion)>;

/// The running application: its windows (by level, then by the order they became visible), the
/// key window, its scenes, its state and the services it offers (opening URLs, status-bar
/// queries). Main thread only. Tests call reset() between cases.
class UIApplication : public runtime::Object {
 public:
  static UIApplication& shared();
  /// Forgets windows, scenes, state and replaced services.
  void reset();

  /// The visible windows, bottom to top.
  std::vector<std::shared_ptr<UIWindow>> windows() const;
  std::shared_ptr<UIWindow> keyWindow() const { return keyWindow_.lock(); }
  /// The top-most view under a screen point across the visible windows: the top window first,
  /// and a window that answers nothing lets the point through to the next one down.
  std::shared_ptr<UIView> hitTest(CGPoint screenPoint) const;

  std::vector<std::shared_ptr<UIWindowScene>> connectedScenes() const { return scenes_; }
  void connectScene(const std::shared_ptr<UIWindowScene>& scene);

  UIApplicationState applicationState() const { return state_; }
  /// Moves to `state`, posting the notifications of the way there, in the platform's order.
  void setApplicationState(UIApplicationState state);

  /// Opens `url` through the opener: by default web and mail addresses go to the desktop's
  /// opener program ("xdg-open"); the completion runs on the main queue.
  void openURL(const std::string& url, const foundation::Dictionary& options = {},
               std::function<void(bool)> completion = {});
  void setURLOpener(URLOpener opener) { opener_ = std::move(opener); }

  /// The status-bar style and visibility the key window's controllers ask for.
  UIStatusBarStyle statusBarStyle() const;
  bool isStatusBarHidden() const;
  /// How many times a controller asked for the status bar to be looked at again.
  int statusBarUpdateRequests = 0;

  /// Sends the action `action` to `target` on behalf of `sender`: the one path every control
  /// action takes. Sent through the method table as "sendAction:to:from:forEvent:" (signature
  /// `bool(runtime::SEL, runtime::Object*, runtime::Object*, runtime::Object*)`), so that it can
  /// be replaced. The toolkit's implementation runs `perform` (the action the control registered)
  /// when given, else sends `action` to the target through the table with the sender as its
  /// argument when the target's class has it. True when an action ran. `target` and `event` may
  /// be null (a target that is not a runtime object, no event).
  bool sendAction(runtime::SEL action, runtime::Object* target, runtime::Object* sender, runtime::Object* event,
                  const std::function<void()>& perform = {});

 private:
  friend class UIWindow;
  void windowBecameVisible(const std::shared_ptr<UIWindow>& window);
  void windowBecameHidden(const UIWindow* window);
  void makeKey(const std::shared_ptr<UIWindow>& window);
  void post(const char* name);

  std::vector<std::weak_ptr<UIWindow>> visible_;
  std::weak_ptr<UIWindow> keyWindow_;
  std::vector<std::shared_ptr<UIWindowScene>> scenes_;
  UIApplicationState state_ = UIApplicationState::Active;
  URLOpener opener_;
  std::uint64_t nextOrder_ = 1;
};

/// The opener the application uses by default: hands http, https and mailto addresses to
/// "xdg-open" without waiting for it, and refuses others.
void openWithDesktopOpener(const std::string& url, std::function<void(bool)> completion);

}  // namespace uikit
