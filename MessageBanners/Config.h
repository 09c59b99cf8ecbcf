#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MessageBanners/detail/ToolkitSeams.h"
#include "platform/uikit/Color.h"
#include "platform/uikit/TraitCollection.h"

namespace uikit {
class UIView;
class UIViewController;
class UIWindowScene;
}  // namespace uikit

namespace MessageBanners {

class Animator;
class KeyboardTrackingView;
class WindowViewController;

/// Something a message window can be attached to. A platform window scene answers itself from
/// `uiWindowScene()`; anything else answers null and gives the message window no scene.
class WindowScene {
 public:
  virtual ~WindowScene() = default;
  virtual std::shared_ptr<uikit::UIWindowScene> uiWindowScene() const { return nullptr; }
};

/// Which animator brings a message in and out.
class PresentationStyle {
 public:
  enum class Kind { Top, Bottom, Center, Custom };
  /// Slides in from the top edge.
  static PresentationStyle top() { return PresentationStyle(Kind::Top, nullptr); }
  /// Slides in from the bottom edge.
  static PresentationStyle bottom() { return PresentationStyle(Kind::Bottom, nullptr); }
  /// Pops in at the centre and can be thrown away.
  static PresentationStyle center() { return PresentationStyle(Kind::Center, nullptr); }
  /// The given animator; the presenter makes the queue manager its delegate.
  static PresentationStyle custom(std::shared_ptr<Animator> animator) {
    return PresentationStyle(Kind::Custom, std::move(animator));
  }
  Kind kind() const { return kind_; }
  const std::shared_ptr<Animator>& animator() const { return animator_; }

 private:
  PresentationStyle(Kind kind, std::shared_ptr<Animator> animator) : kind_(kind), animator_(std::move(animator)) {}
  Kind kind_;
  std::shared_ptr<Animator> animator_;
};

/// Where a message is installed.
class PresentationContext {
 public:
  enum class Kind { Window, WindowScene, ViewController, View, Automatic };
  /// A message window of its own at `windowLevel`.
  static PresentationContext window(UIWindowLevel windowLevel);
  /// A message window attached to `scene`, at `windowLevel`.
  static PresentationContext windowScene(std::shared_ptr<WindowScene> scene, UIWindowLevel windowLevel);
  /// Inside the view controller's view hierarchy.
  static PresentationContext viewController(std::shared_ptr<uikit::UIViewController> controller);
  /// Inside the view.
  static PresentationContext view(std::shared_ptr<uikit::UIView> view);
  /// A container chosen by the presenter.
  static PresentationContext automatic();

  Kind kind() const { return kind_; }
  /// The level of the two window cases; the normal level for the others.
  UIWindowLevel windowLevel() const { return windowLevel_; }
  const std::shared_ptr<WindowScene>& scene() const { return scene_; }
  const std::shared_ptr<uikit::UIViewController>& controller() const { return controller_; }
  const std::shared_ptr<uikit::UIView>& containerView() const { return view_; }

 private:
  explicit PresentationContext(Kind kind) : kind_(kind) {}
  Kind kind_;
  UIWindowLevel windowLevel_ = UIWindowLevelNormal;
  std::shared_ptr<WindowScene> scene_;
  std::shared_ptr<uikit::UIViewController> controller_;
  std::shared_ptr<uikit::UIView> view_;
};

/// How long a message stays before it hides by itself.
class Duration {
 public:
  enum class Kind { Automatic, Forever, Seconds, Indefinite };
  /// 2 seconds after the show animation completed.
  static Duration automatic() { return Duration(Kind::Automatic); }
  /// Never hides by itself.
  static Duration forever() { return Duration(Kind::Forever); }
  /// `seconds` after the show animation completed.
  static Duration seconds(double seconds);
  /// Never hides by itself; queued only `delay` seconds after it was handed in, and once shown a
  /// hide waits until it has been visible `minimum` seconds, unless the user dismissed it.
  static Duration indefinite(double delay, double minimum);
  Kind kind() const { return kind_; }
  double seconds() const { return seconds_; }
  double delay() const { return delay_; }
  double minimum() const { return minimum_; }

 private:
  explicit Duration(Kind kind) : kind_(kind) {}
  Kind kind_;
  double seconds_ = 0, delay_ = 0, minimum_ = 0;
};

/// How the content behind a message is dimmed.
class DimMode {
 public:
  enum class Kind { Gray, Color, Blur, None };
  static DimMode gray(bool interactive);
  static DimMode color(uikit::UIColor color, bool interactive);
  static DimMode blur(UIBlurEffectStyle style, uikit::CGFloat alpha, bool interactive);
  static DimMode none() { return DimMode(Kind::None); }
  Kind kind() const { return kind_; }
  /// True for every mode but none.
  bool modal() const { return kind_ != Kind::None; }
  /// Whether a tap on the dimmed background hides the message (false for none).
  bool interactive() const { return interactive_; }
  const std::optional<uikit::UIColor>& color() const { return color_; }
  UIBlurEffectStyle blurStyle() const { return blurStyle_; }
  uikit::CGFloat alpha() const { return alpha_; }

 private:
  explicit DimMode(Kind kind) : kind_(kind) {}
  Kind kind_;
  bool interactive_ = false;
  std::optional<uikit::UIColor> color_;
  UIBlurEffectStyle blurStyle_ = UIBlurEffectStyle::Regular;
  uikit::CGFloat alpha_ = 1;
};

/// A moment in the life of one message, with the message view.
struct Event {
  enum class Kind { WillShow, DidShow, WillHide, DidHide };
  Kind kind;
  std::shared_ptr<uikit::UIView> view;
};

/// How one message is presented. A value: every message keeps its own copy; the objects it names
/// (animator, containers, keyboard tracking view) are shared by the copies.
struct Config {
  PresentationStyle presentationStyle = PresentationStyle::top();
  PresentationContext presentationContext = PresentationContext::automatic();
  Duration duration = Duration::automatic();
  DimMode dimMode = DimMode::none();
  /// The message can be dismissed by a pan.
  bool interactiveHide = true;
  /// Status-bar style and visibility while the message window shows; none keeps the default.
  std::optional<UIStatusBarStyle> preferredStatusBarStyle;
  std::optional<bool> prefersStatusBarHidden;
  bool shouldAutorotate = true;
  /// Drop a message whose identifier is already showing or queued, and count the attempts.
  bool ignoreDuplicates = true;
  /// Called in order for each event of the message, on the main queue.
  std::vector<std::function<void(const Event&)>> eventListeners;
  /// Whether the message window becomes key; none: exactly when the dim mode is modal.
  std::optional<bool> becomeKeyWindow;
  /// Accessibility label of a dimmed background that dismisses the message when tapped.
  std::string dimModeAccessibilityLabel = "dismiss";
  /// Raw value of the interface style forced on the message window.
  std::optional<int> overrideUserInterfaceStyleRawValue;
  /// Makes the message window's view controller; none: the default one.
  std::function<std::shared_ptr<WindowViewController>(const Config&)> windowViewController;
  /// Handed to the masking view, which installs it along its bottom edge.
  std::shared_ptr<KeyboardTrackingView> keyboardTrackingView;

  /// The forced interface style; unspecified while no raw value is stored.
  uikit::UIUserInterfaceStyle overrideUserInterfaceStyle() const;
  void setOverrideUserInterfaceStyle(uikit::UIUserInterfaceStyle style);
  /// The scene of a window-scene context when it is a platform scene, else null; for every other
  /// context, the scene of the application's key window (null when there is none).
  std::shared_ptr<uikit::UIWindowScene> windowScene() const;
  /// `becomeKeyWindow` when set, else whether the dim mode is modal.
  bool shouldBecomeKeyWindow() const;
};

}  // namespace MessageBanners
