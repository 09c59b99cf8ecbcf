#include "platform/uikit/Color.h"

#include <algorithm>
#include <cmath>

namespace uikit {
namespace {

constexpr double kComponentTolerance = 1e-9;

double clamp01(double v) { return std::isnan(v) ? 0 : std::clamp(v, 0.0, 1.0); }

}  // namespace

UIColor::UIColor(double red, double green, double blue, double alpha)
    : r_(clamp01(red)), g_(clamp01(green)), b_(clamp01(blue)), a_(clamp01(alpha)) {}

UIColor UIColor::hsb(double hue, double s, double v, double alpha) {
  double h = clamp01(hue) * 6.0;
  if (h >= 6.0) h = 0;
  s = clamp01(s);
  v = clamp01(v);
  int i = static_cast<int>(std::floor(h));
  double f = h - i, p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
  switch (i) {
    case 0: return {v, t, p, alpha};
    case 1: return {q, v, p, alpha};
    case 2: return {p, v, t, alpha};
    case 3: return {p, q, v, alpha};
    case 4: return {t, p, v, alpha};
    default: return {v, p, q, alpha};
  }
}

UIColor UIColor::dynamic(Provider provider) {
  UIColor c = provider({});
  c.provider_ = std::make_shared<const Provider>(std::move(provider));
  return c;
}

UIColor UIColor::labelColor() {
  return dynamic([](const UITraitCollection& t) {
    return t.userInterfaceStyle == UIUserInterfaceStyle::Dark ? whiteColor() : blackColor();
  });
}

UIColor UIColor::secondarySystemGroupedBackgroundColor() {
  return dynamic([](const UITraitCollection& t) {
    return t.userInterfaceStyle == UIUserInterfaceStyle::Dark ? UIColor(28 / 255.0, 28 / 255.0, 30 / 255.0)
                                                               : whiteColor();
  });
}

UIColor UIColor::resolvedColor(const UITraitCollection& traits) const {
  if (!provider_) return *this;
  UIColor c = (*provider_)(traits);
  c.provider_.reset();
  return c;
}

void UIColor::getHSBA(double& hue, double& saturation, double& brightness, double& alpha) const {
  UIColor c = resolvedColor({});
  double mx = std::max({c.r_, c.g_, c.b_}), mn = std::min({c.r_, c.g_, c.b_}), d = mx - mn;
  brightness = mx;
  saturation = mx == 0 ? 0 : d / mx;
  alpha = c.a_;
  if (d == 0) {
    hue = 0;
    return;
  }
  double h;
  if (mx == c.r_) h = std::fmod((c.g_ - c.b_) / d, 6.0);
  else if (mx == c.g_) h = (c.b_ - c.r_) / d + 2;
  else h = (c.r_ - c.g_) / d + 4;
  h /= 6.0;
  hue = h < 0 ? h + 1 : h;
}

UIColor UIColor::withSaturation(double saturation) const {
  double h, s, b, a;
  getHSBA(h, s, b, a);
  return hsb(h, saturation, b, a);
}

UIColor UIColor::withAlphaComponent(double alpha) const {
  UIColor c = resolvedColor({});
  return {c.r_, c.g_, c.b_, alpha};
}

bool operator==(const UIColor& a, const UIColor& b) {
  if (a.provider_ || b.provider_) return a.provider_ == b.provider_;
  return std::fabs(a.r_ - b.r_) <= kComponentTolerance && std::fabs(a.g_ - b.g_) <= kComponentTolerance &&
         std::fabs(a.b_ - b.b_) <= kComponentTolerance && std::fabs(a.a_ - b.a_) <= kComponentTolerance;
}

}  // namespace uikit
