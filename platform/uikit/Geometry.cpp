#include "platform/uikit/Geometry.h"

#include <algorithm>

namespace uikit {

CGRect CGRect::standardized() const {
  CGRect r = *this;
  if (r.size.width < 0) { r.origin.x += r.size.width; r.size.width = -r.size.width; }
  if (r.size.height < 0) { r.origin.y += r.size.height; r.size.height = -r.size.height; }
  return r;
}

bool CGRect::contains(CGPoint p) const {
  return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
}

bool CGRect::intersects(const CGRect& other) const {
  CGRect r = intersection(other);
  return r.size.width > 0 && r.size.height > 0;
}

CGRect CGRect::intersection(const CGRect& other) const {
  CGFloat x0 = std::max(minX(), other.minX()), y0 = std::max(minY(), other.minY());
  CGFloat x1 = std::min(maxX(), other.maxX()), y1 = std::min(maxY(), other.maxY());
  if (x1 < x0 || y1 < y0) return {};
  return {x0, y0, x1 - x0, y1 - y0};
}

CGRect CGRect::unionWith(const CGRect& other) const {
  if (isEmpty() && origin == CGPoint{}) return other.standardized();
  if (other.isEmpty() && other.origin == CGPoint{}) return standardized();
  CGFloat x0 = std::min(minX(), other.minX()), y0 = std::min(minY(), other.minY());
  CGFloat x1 = std::max(maxX(), other.maxX()), y1 = std::max(maxY(), other.maxY());
  return {x0, y0, x1 - x0, y1 - y0};
}

CGRect CGRect::insetBy(CGFloat dx, CGFloat dy) const {
  CGRect r = standardized();
  return {r.origin.x + dx, r.origin.y + dy, r.size.width - 2 * dx, r.size.height - 2 * dy};
}

CGRect CGRect::offsetBy(CGFloat dx, CGFloat dy) const {
  return {origin.x + dx, origin.y + dy, size.width, size.height};
}

CGRect insetRect(const CGRect& rect, const UIEdgeInsets& insets) {
  CGRect r = rect.standardized();
  return {r.origin.x + insets.left, r.origin.y + insets.top, r.size.width - insets.left - insets.right,
          r.size.height - insets.top - insets.bottom};
}

CGAffineTransform CGAffineTransform::makeRotation(CGFloat angle) {
  CGFloat c = std::cos(angle), s = std::sin(angle);
  return {c, s, -s, c, 0, 0};
}

CGAffineTransform CGAffineTransform::concat(const CGAffineTransform& n) const {
  return {a * n.a + b * n.c,         a * n.b + b * n.d,         c * n.a + d * n.c,
          c * n.b + d * n.d,         tx * n.a + ty * n.c + n.tx, tx * n.b + ty * n.d + n.ty};
}

CGAffineTransform CGAffineTransform::inverted() const {
  CGFloat det = a * d - b * c;
  if (det == 0 || !std::isfinite(det)) return *this;
  return {d / det, -b / det, -c / det, a / det, (c * ty - d * tx) / det, (b * tx - a * ty) / det};
}

CGRect CGAffineTransform::apply(const CGRect& r0) const {
  CGRect r = r0.standardized();
  CGPoint p[4] = {apply(CGPoint{r.minX(), r.minY()}), apply(CGPoint{r.maxX(), r.minY()}),
                  apply(CGPoint{r.minX(), r.maxY()}), apply(CGPoint{r.maxX(), r.maxY()})};
  CGFloat x0 = p[0].x, x1 = p[0].x, y0 = p[0].y, y1 = p[0].y;
  for (const auto& q : p) {
    x0 = std::min(x0, q.x); x1 = std::max(x1, q.x);
    y0 = std::min(y0, q.y); y1 = std::max(y1, q.y);
  }
  return {x0, y0, x1 - x0, y1 - y0};
}

CATransform3D CATransform3D::makeScale(CGFloat sx, CGFloat sy, CGFloat sz) {
  CATransform3D t;
  t.m11 = sx; t.m22 = sy; t.m33 = sz;
  return t;
}

CATransform3D CATransform3D::makeTranslation(CGFloat tx, CGFloat ty, CGFloat tz) {
  CATransform3D t;
  t.m41 = tx; t.m42 = ty; t.m43 = tz;
  return t;
}

CATransform3D CATransform3D::makeRotation(CGFloat angle) {
  CATransform3D t;
  t.m11 = std::cos(angle); t.m12 = std::sin(angle);
  t.m21 = -std::sin(angle); t.m22 = std::cos(angle);
  return t;
}

CATransform3D CATransform3D::makeAffine(const CGAffineTransform& a) {
  CATransform3D t;
  t.m11 = a.a; t.m12 = a.b; t.m21 = a.c; t.m22 = a.d; t.m41 = a.tx; t.m42 = a.ty;
  return t;
}

CATransform3D CATransform3D::concat(const CATransform3D& n) const {
  const CGFloat x[4][4] = {{m11, m12, m13, m14}, {m21, m22, m23, m24}, {m31, m32, m33, m34}, {m41, m42, m43, m44}};
  const CGFloat y[4][4] = {{n.m11, n.m12, n.m13, n.m14}, {n.m21, n.m22, n.m23, n.m24},
                           {n.m31, n.m32, n.m33, n.m34}, {n.m41, n.m42, n.m43, n.m44}};
  CGFloat r[4][4] = {};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) r[i][j] += x[i][k] * y[k][j];
  return {r[0][0], r[0][1], r[0][2], r[0][3], r[1][0], r[1][1], r[1][2], r[1][3],
          r[2][0], r[2][1], r[2][2], r[2][3], r[3][0], r[3][1], r[3][2], r[3][3]};
}

}  // namespace uikit
