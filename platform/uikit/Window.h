#pragma once
#include <memory>

#include "platform/uikit/View.h"

namespace uikit {

/// The root of a view tree shown on the screen. It carries what its views inherit: the safe-area
/// insets of the device and the base trait collection (size classes, interface style, scale).
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

 private:
  friend class UIView;
  UIEdgeInsets safeInsets_;
  UITraitCollection baseTraits_{UIUserInterfaceStyle::Light, UIUserInterfaceSizeClass::Compact,
                                UIUserInterfaceSizeClass::Regular, 3.0};
  bool layoutScheduled_ = false;
};

}  // namespace uikit
