#include "platform/uikit/BezierPath.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace uikit {
namespace {

CGPoint pointOnArc(CGPoint c, CGFloat r, CGFloat angle) { return {c.x + r * std::cos(angle), c.y + r * std::sin(angle)}; }

/// The angles an arc passes through, as an increasing sweep from `from` of length `sweep`.
bool arcPasses(CGFloat from, CGFloat sweep, CGFloat angle) {
  CGFloat d = std::fmod(angle - from, 2 * kPi);
  if (d < 0) d += 2 * kPi;
  return d <= sweep;
}

}  // namespace

UIBezierPath UIBezierPath::arc(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle, bool clockwise) {
  UIBezierPath p;
  p.addArc(center, radius, startAngle, endAngle, clockwise);
  return p;
}

UIBezierPath UIBezierPath::rect(const CGRect& r) {
  UIBezierPath p;
  p.moveTo({r.minX(), r.minY()});
  p.addLineTo({r.maxX(), r.minY()});
  p.addLineTo({r.maxX(), r.maxY()});
  p.addLineTo({r.minX(), r.maxY()});
  p.closePath();
  return p;
}

UIBezierPath UIBezierPath::ovalInRect(const CGRect& r) {
  // Circles are arcs; ellipses are four cubic quadrants.
  if (std::fabs(r.width() - r.height()) < 1e-12) {
    UIBezierPath p = arc(r.center(), r.width() / 2, 0, 2 * kPi, true);
    p.closePath();
    return p;
  }
  constexpr CGFloat k = 0.5522847498307936;
  CGFloat cx = r.midX(), cy = r.midY(), rx = r.width() / 2, ry = r.height() / 2;
  UIBezierPath p;
  p.moveTo({cx + rx, cy});
  p.addCurveTo({cx, cy + ry}, {cx + rx, cy + k * ry}, {cx + k * rx, cy + ry});
  p.addCurveTo({cx - rx, cy}, {cx - k * rx, cy + ry}, {cx - rx, cy + k * ry});
  p.addCurveTo({cx, cy - ry}, {cx - rx, cy - k * ry}, {cx - k * rx, cy - ry});
  p.addCurveTo({cx + rx, cy}, {cx + k * rx, cy - ry}, {cx + rx, cy - k * ry});
  p.closePath();
  return p;
}

UIBezierPath UIBezierPath::roundedRect(const CGRect& r, CGFloat cornerRadius) {
  return roundedRect(r, UIRectCornerAllCorners, {cornerRadius, cornerRadius});
}

UIBezierPath UIBezierPath::roundedRect(const CGRect& r0, unsigned corners, CGSize radii) {
  CGRect r = r0.standardized();
  CGFloat rad = std::clamp(std::min(radii.width, radii.height), 0.0, std::min(r.width(), r.height()) / 2);
  auto radiusFor = [&](unsigned corner) { return (corners & corner) ? rad : 0.0; };
  CGFloat tl = radiusFor(UIRectCornerTopLeft), tr = radiusFor(UIRectCornerTopRight);
  CGFloat br = radiusFor(UIRectCornerBottomRight), bl = radiusFor(UIRectCornerBottomLeft);
  UIBezierPath p;
  p.moveTo({r.minX() + tl, r.minY()});
  p.addLineTo({r.maxX() - tr, r.minY()});
  if (tr > 0) p.addArc({r.maxX() - tr, r.minY() + tr}, tr, -kPi / 2, 0, true);
  p.addLineTo({r.maxX(), r.maxY() - br});
  if (br > 0) p.addArc({r.maxX() - br, r.maxY() - br}, br, 0, kPi / 2, true);
  p.addLineTo({r.minX() + bl, r.maxY()});
  if (bl > 0) p.addArc({r.minX() + bl, r.maxY() - bl}, bl, kPi / 2, kPi, true);
  p.addLineTo({r.minX(), r.minY() + tl});
  if (tl > 0) p.addArc({r.minX() + tl, r.minY() + tl}, tl, kPi, 3 * kPi / 2, true);
  p.closePath();
  return p;
}

void UIBezierPath::moveTo(CGPoint p) {
  Element e;
  e.kind = ElementKind::MoveTo;
  e.point = p;
  elements_.push_back(e);
  current_ = p;
}

void UIBezierPath::addLineTo(CGPoint p) {
  Element e;
  e.kind = ElementKind::LineTo;
  e.point = p;
  elements_.push_back(e);
  current_ = p;
}

void UIBezierPath::addCurveTo(CGPoint end, CGPoint c1, CGPoint c2) {
  Element e;
  e.kind = ElementKind::CurveTo;
  e.point = end;
  e.control1 = c1;
  e.control2 = c2;
  elements_.push_back(e);
  current_ = end;
}

void UIBezierPath::addArc(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle, bool clockwise) {
  Element e;
  e.kind = ElementKind::Arc;
  e.point = center;
  e.radius = radius;
  e.startAngle = startAngle;
  e.endAngle = endAngle;
  e.clockwise = clockwise;
  elements_.push_back(e);
  current_ = pointOnArc(center, radius, endAngle);
}

void UIBezierPath::closePath() {
  Element e;
  e.kind = ElementKind::Close;
  e.point = current_;
  elements_.push_back(e);
}

void UIBezierPath::append(const UIBezierPath& other) {
  elements_.insert(elements_.end(), other.elements_.begin(), other.elements_.end());
  if (!other.elements_.empty()) current_ = other.current_;
}

void UIBezierPath::applyTransform(const CGAffineTransform& t) {
  CGFloat det = t.a * t.d - t.b * t.c;
  CGFloat scale = std::sqrt(std::fabs(det));
  CGFloat turn = std::atan2(t.b, t.a);
  for (auto& e : elements_) {
    e.point = t.apply(e.point);
    e.control1 = t.apply(e.control1);
    e.control2 = t.apply(e.control2);
    if (e.kind == ElementKind::Arc) {
      e.radius *= scale;
      e.startAngle += turn;
      e.endAngle += turn;
      if (det < 0) e.clockwise = !e.clockwise;
    }
  }
  current_ = t.apply(current_);
}

CGRect UIBezierPath::bounds() const {
  if (elements_.empty()) return {};
  CGFloat x0 = std::numeric_limits<CGFloat>::infinity(), y0 = x0, x1 = -x0, y1 = -x0;
  auto add = [&](CGPoint p) {
    x0 = std::min(x0, p.x); x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y); y1 = std::max(y1, p.y);
  };
  for (const auto& e : elements_) {
    switch (e.kind) {
      case ElementKind::MoveTo:
      case ElementKind::LineTo: add(e.point); break;
      case ElementKind::CurveTo: add(e.point); add(e.control1); add(e.control2); break;
      case ElementKind::Close: break;
      case ElementKind::Arc: {
        // Sweep as an increasing angle from `from`; a sweep of a full turn or more is a circle.
        CGFloat from = e.clockwise ? e.startAngle : e.endAngle;
        CGFloat sweep = std::fabs(e.endAngle - e.startAngle);
        if (sweep < 2 * kPi) {
          sweep = std::fmod(e.clockwise ? e.endAngle - e.startAngle : e.startAngle - e.endAngle, 2 * kPi);
          if (sweep < 0) sweep += 2 * kPi;
        }
        add(pointOnArc(e.point, e.radius, e.startAngle));
        add(pointOnArc(e.point, e.radius, e.endAngle));
        for (int q = 0; q < 4; ++q) {
          CGFloat a = q * kPi / 2;
          if (sweep >= 2 * kPi || arcPasses(from, sweep, a)) add(pointOnArc(e.point, e.radius, a));
        }
        break;
      }
    }
  }
  return {x0, y0, x1 - x0, y1 - y0};
}

}  // namespace uikit
