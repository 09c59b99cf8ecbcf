#pragma once
// Platform names the library needs beyond views, layers, layout and animation: window levels,
// status-bar and blur styles, the keyboard's and the application's notifications with their
// user-info keys, and tap recognition. They carry the platform's names and raw values, so the
// notifications the toolkit posts are exactly the ones read here.
#include <functional>
#include <memory>
#include <optional>

#include "platform/foundation/Value.h"
#include "platform/uikit/Geometry.h"

namespace uikit { class UIView; }

namespace MessageBanners {

using UIWindowLevel = double;
inline constexpr UIWindowLevel UIWindowLevelNormal = 0;
inline constexpr UIWindowLevel UIWindowLevelStatusBar = 1000;
inline constexpr UIWindowLevel UIWindowLevelAlert = 2000;

enum class UIStatusBarStyle : int { Default = 0, LightContent = 1, DarkContent = 3 };

enum class UIBlurEffectStyle : int {
  ExtraLight = 0, Light = 1, Dark = 2, Regular = 4, Prominent = 5, SystemMaterial = 7,
};

inline constexpr const char* UIApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* UIApplicationWillResignActiveNotification = "UIApplicationWillResignActiveNotification";
inline constexpr const char* UIKeyboardWillShowNotification = "UIKeyboardWillShowNotification";
inline constexpr const char* UIKeyboardWillHideNotification = "UIKeyboardWillHideNotification";
inline constexpr const char* UIKeyboardWillChangeFrameNotification = "UIKeyboardWillChangeFrameNotification";
inline constexpr const char* UIKeyboardFrameEndUserInfoKey = "UIKeyboardFrameEndUserInfoKey";
inline constexpr const char* UIKeyboardAnimationDurationUserInfoKey = "UIKeyboardAnimationDurationUserInfoKey";
inline constexpr const char* UIKeyboardAnimationCurveUserInfoKey = "UIKeyboardAnimationCurveUserInfoKey";

namespace detail {

/// A rectangle boxed for a notification's user info, as the platform boxes it ("NSValue").
foundation::Value boxRect(const uikit::CGRect& rect);
/// The rectangle in a boxed value; nothing for a value of any other kind.
std::optional<uikit::CGRect> unboxRect(const foundation::Value& value);

/// A tap recogniser reduced to what the message views need: it sits on at most one view and,
/// when a tap on that view is recognised, runs its action.
class TapRecognizer {
 public:
  explicit TapRecognizer(std::function<void()> action) : action_(std::move(action)) {}
  /// The view it sits on, or null.
  uikit::UIView* view() const { return view_.expired() ? nullptr : viewRaw_; }
  /// Moves it onto `view`.
  void addTo(uikit::UIView& view);
  /// Takes it off `view` when it sits there.
  void removeFrom(const uikit::UIView& view);
  /// A tap was recognised on its view: runs the action. Nothing happens while it sits nowhere.
  void recognize();

 private:
  std::function<void()> action_;
  std::weak_ptr<const void> view_;
  uikit::UIView* viewRaw_ = nullptr;
};

}  // namespace detail
}  // namespace MessageBanners

namespace uikit { class UIWindowScene; }

namespace MessageBanners::detail {

/// The window scene of the application's key window, or null; answered by the key-window lookup
/// once one is installed (null until then).
std::shared_ptr<uikit::UIWindowScene> keyWindowScene();
void setKeyWindowSceneLookup(std::function<std::shared_ptr<uikit::UIWindowScene>()> lookup);

}  // namespace MessageBanners::detail
