#include "platform/uikit/AnimationValue.h"

namespace uikit {
namespace {

double lerp(double a, double b, double t) { return a + (b - a) * t; }
CGPoint lerp(CGPoint a, CGPoint b, double t) { return {lerp(a.x, b.x, t), lerp(a.y, b.y, t)}; }
CGSize lerp(CGSize a, CGSize b, double t) { return {lerp(a.width, b.width, t), lerp(a.height, b.height, t)}; }

CATransform3D lerp(const CATransform3D& a, const CATransform3D& b, double t) {
  CATransform3D r;
  const double* pa = &a.m11;
  const double* pb = &b.m11;
  double* pr = &r.m11;
  for (int i = 0; i < 16; ++i) pr[i] = lerp(pa[i], pb[i], t);
  return r;
}

std::optional<UIBezierPath> lerp(const UIBezierPath& a, const UIBezierPath& b, double t) {
  const auto& ea = a.elements();
  const auto& eb = b.elements();
  if (ea.size() != eb.size()) return std::nullopt;
  UIBezierPath out;
  for (std::size_t i = 0; i < ea.size(); ++i) {
    if (ea[i].kind != eb[i].kind) return std::nullopt;
    UIBezierPath::Element e = ea[i];
    e.point = lerp(ea[i].point, eb[i].point, t);
    e.control1 = lerp(ea[i].control1, eb[i].control1, t);
    e.control2 = lerp(ea[i].control2, eb[i].control2, t);
    e.radius = lerp(ea[i].radius, eb[i].radius, t);
    e.startAngle = lerp(ea[i].startAngle, eb[i].startAngle, t);
    e.endAngle = lerp(ea[i].endAngle, eb[i].endAngle, t);
    switch (e.kind) {
      case UIBezierPath::ElementKind::MoveTo: out.moveTo(e.point); break;
      case UIBezierPath::ElementKind::LineTo: out.addLineTo(e.point); break;
      case UIBezierPath::ElementKind::CurveTo: out.addCurveTo(e.point, e.control1, e.control2); break;
      case UIBezierPath::ElementKind::Arc: out.addArc(e.point, e.radius, e.startAngle, e.endAngle, e.clockwise); break;
      case UIBezierPath::ElementKind::Close: out.closePath(); break;
    }
  }
  return out;
}

}  // namespace

AnimationValue interpolate(const AnimationValue& from, const AnimationValue& to, double t) {
  if (from.index() == to.index()) {
    if (auto a = std::get_if<double>(&from)) return lerp(*a, std::get<double>(to), t);
    if (auto a = std::get_if<CGPoint>(&from)) return lerp(*a, std::get<CGPoint>(to), t);
    if (auto a = std::get_if<CGSize>(&from)) return lerp(*a, std::get<CGSize>(to), t);
    if (auto a = std::get_if<CGRect>(&from)) {
      const CGRect& b = std::get<CGRect>(to);
      return CGRect{lerp(a->origin, b.origin, t), lerp(a->size, b.size, t)};
    }
    if (auto a = std::get_if<CATransform3D>(&from)) return lerp(*a, std::get<CATransform3D>(to), t);
    if (auto a = std::get_if<UIColor>(&from)) {
      const UIColor& b = std::get<UIColor>(to);
      return UIColor(lerp(a->red(), b.red(), t), lerp(a->green(), b.green(), t), lerp(a->blue(), b.blue(), t),
                     lerp(a->alpha(), b.alpha(), t));
    }
    if (auto a = std::get_if<UIBezierPath>(&from)) {
      if (auto p = lerp(*a, std::get<UIBezierPath>(to), t)) return *p;
    }
  }
  return t < 0.5 ? from : to;
}

std::optional<double> numberOf(const AnimationValue& v) {
  if (auto d = std::get_if<double>(&v)) return *d;
  return std::nullopt;
}

}  // namespace uikit
