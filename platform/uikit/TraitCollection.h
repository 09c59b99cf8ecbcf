#pragma once

namespace uikit {

/// Raw values as the platform numbers them.
enum class UIUserInterfaceStyle : int { Unspecified = 0, Light = 1, Dark = 2 };
enum class UIUserInterfaceSizeClass : int { Unspecified = 0, Compact = 1, Regular = 2 };

/// The environment a view draws in: interface style, size classes and display scale. A view
/// inherits its window's collection, with its own interface-style override applied.
struct UITraitCollection {
  UIUserInterfaceStyle userInterfaceStyle = UIUserInterfaceStyle::Unspecified;
  UIUserInterfaceSizeClass horizontalSizeClass = UIUserInterfaceSizeClass::Unspecified;
  UIUserInterfaceSizeClass verticalSizeClass = UIUserInterfaceSizeClass::Unspecified;
  double displayScale = 0;
  friend bool operator==(const UITraitCollection&, const UITraitCollection&) = default;
};

}  // namespace uikit
