#pragma once
#include <memory>

#include "platform/uikit/View.h"

namespace uikit {

/// The root of a view tree shown on the screen. It carries what its views inherit: the safe-area
/// insets of the device and the base trait collection (size classes, interface style, scale).
class UIViewController;
class UIWindowScene;

/// Window levels: higher levels lie above lower ones.
using UIWindowLevel = double;
inline constexpr UIWindowLevel UIWindowLevelNormal = 0;
inline constexpr UIWindowLevel UIWindowLevelStatusBar = 1000;
inline constexpr UIWindowLevel UIWindowLevelAlert = 2000;

class UIWindow : public UIView {
 public:
  UIWindow();
  static std::shared_ptr<UIWindow> create(const CGRect& frame = {});
  std::string className() const override { return "UIWindow"; }

  /// The insets of the screen that content should keep clear of (notch, home indicator).
  UIEdgeInsets windowSafeAreaInsets() const { return safeInsets_; }
  void setWindowSafeAreaInsets(const UIEdgeInsets& insets);
  /// The collection views inherit, before the interface-style overrides.
  UITraitCollection baseTraitCollection() const { return baseTraits_; }
  void setBaseTraitCollection(const UITraitCollection& traits);

  // Among the application's windows.
  UIWindowLevel windowLevel() const { return level_; }
  void setWindowLevel(UIWindowLevel level) { level_ = level; }
  /// The controller whose view fills the window; setting it puts that view in.
  const std::shared_ptr<UIViewController>& rootViewController() const { return root_; }
  void setRootViewController(std::shared_ptr<UIViewController> controller);
  /// Shows the window (it joins the application's visible windows, on top of its level) and
  /// makes it the key window.
  void makeKeyAndVisible();
  /// Makes this window the key window; the previous key window resigns.
  void makeKeyWindow();
  bool isKeyWindow() const;
  /// Shows or hides the window among the application's windows.
  void setVisible(bool visible);
  bool isVisible() const { return visibleOrder_ != 0; }
  /// The order in which visible windows became visible (0: not visible).
  std::uint64_t visibleOrder() const { return visibleOrder_; }
  std::shared_ptr<UIWindowScene> windowScene() const { return scene_.lock(); }
  void setWindowScene(const std::shared_ptr<UIWindowScene>& scene);
  /// Hit testing in screen coordinates (the window's frame origin is its place on the screen).
  virtual std::shared_ptr<UIView> hitTestScreenPoint(CGPoint screenPoint);

 private:
  friend class UIApplication;
  UIWindowLevel level_ = UIWindowLevelNormal;
  std::shared_ptr<UIViewController> root_;
  std::uint64_t visibleOrder_ = 0;
  std::weak_ptr<UIWindowScene> scene_;

  friend class UIView;
  UIEdgeInsets safeInsets_;
  UITraitCollection baseTraits_{UIUserInterfaceStyle::Light, UIUserInterfaceSizeClass::Compact,
                                UIUserInterfaceSizeClass::Regular, 3.0};
  bool layoutScheduled_ = false;
};

}  // namespace uikit
