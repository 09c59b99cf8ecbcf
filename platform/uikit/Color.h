#pragma once
#include <functional>
#include <memory>

#include "platform/uikit/TraitCollection.h"

namespace uikit {

/// A colour in sRGB components 0…1 with alpha, or a dynamic colour that picks one by the trait
/// collection it is resolved for. Components compare with a tolerance of 1e-9, so a colour that
/// went through hue/saturation/brightness and back still equals the original.
class UIColor {
 public:
  using Provider = std::function<UIColor(const UITraitCollection&)>;

  UIColor() = default;
  UIColor(double red, double green, double blue, double alpha = 1.0);
  static UIColor white(double white, double alpha = 1.0) { return {white, white, white, alpha}; }
  static UIColor hsb(double hue, double saturation, double brightness, double alpha = 1.0);
  /// A colour that asks `provider` each time it is resolved.
  static UIColor dynamic(Provider provider);

  static UIColor clearColor() { return {0, 0, 0, 0}; }
  static UIColor blackColor() { return {0, 0, 0, 1}; }
  static UIColor whiteColor() { return {1, 1, 1, 1}; }
  static UIColor grayColor() { return white(0.5); }
  static UIColor lightGrayColor() { return white(2.0 / 3.0); }
  static UIColor darkGrayColor() { return white(1.0 / 3.0); }
  static UIColor darkTextColor() { return {0, 0, 0, 1}; }
  static UIColor redColor() { return {1, 0, 0, 1}; }
  /// The platform's default tint (blue).
  static UIColor systemBlueColor() { return {0, 122.0 / 255, 1, 1}; }
  /// Black in light style, white in dark style.
  static UIColor labelColor();
  static UIColor secondarySystemGroupedBackgroundColor();

  bool isDynamic() const { return provider_ != nullptr; }
  /// The fixed colour for `traits` (a fixed colour resolves to itself).
  UIColor resolvedColor(const UITraitCollection& traits) const;

  /// Components of the colour resolved for unspecified traits.
  double red() const { return resolvedColor({}).r_; }
  double green() const { return resolvedColor({}).g_; }
  double blue() const { return resolvedColor({}).b_; }
  double alpha() const { return resolvedColor({}).a_; }
  /// Hue, saturation and brightness (each 0…1) and alpha.
  void getHSBA(double& hue, double& saturation, double& brightness, double& alpha) const;
  /// Same hue, brightness and alpha with the given saturation.
  UIColor withSaturation(double saturation) const;
  UIColor withAlphaComponent(double alpha) const;

  /// Fixed colours compare by component; a dynamic colour equals only a copy of itself.
  friend bool operator==(const UIColor& a, const UIColor& b);

 private:
  double r_ = 0, g_ = 0, b_ = 0, a_ = 0;
  std::shared_ptr<const Provider> provider_;
};

}  // namespace uikit
