#pragma once
#include <cmath>

// Plane geometry of the toolkit: points, sizes, rectangles, edge insets, affine transforms and the
// layer transforms that stay affine (scale, translation, rotation about the z axis).

namespace uikit {

/// Coordinates and lengths, in points.
using CGFloat = double;

struct CGPoint {
  CGFloat x = 0, y = 0;
  friend bool operator==(const CGPoint&, const CGPoint&) = default;
};

struct CGSize {
  CGFloat width = 0, height = 0;
  friend bool operator==(const CGSize&, const CGSize&) = default;
};

/// A rectangle by origin and size. The min/max/mid accessors and the set operations standardise
/// the rectangle first, so a negative width or height reads as the same area flipped.
struct CGRect {
  CGPoint origin;
  CGSize size;

  CGRect() = default;
  CGRect(CGPoint o, CGSize s) : origin(o), size(s) {}
  CGRect(CGFloat x, CGFloat y, CGFloat w, CGFloat h) : origin{x, y}, size{w, h} {}

  CGRect standardized() const;
  CGFloat minX() const { return standardized().origin.x; }
  CGFloat minY() const { return standardized().origin.y; }
  CGFloat maxX() const { auto r = standardized(); return r.origin.x + r.size.width; }
  CGFloat maxY() const { auto r = standardized(); return r.origin.y + r.size.height; }
  CGFloat midX() const { auto r = standardized(); return r.origin.x + r.size.width / 2; }
  CGFloat midY() const { auto r = standardized(); return r.origin.y + r.size.height / 2; }
  CGFloat width() const { return std::fabs(size.width); }
  CGFloat height() const { return std::fabs(size.height); }
  CGPoint center() const { return {midX(), midY()}; }
  bool isEmpty() const { return size.width == 0 || size.height == 0; }

  bool contains(CGPoint p) const;
  /// True when the two rectangles share an area of non-zero size.
  bool intersects(const CGRect& other) const;
  /// The common area; a zero rectangle when there is none.
  CGRect intersection(const CGRect& other) const;
  CGRect unionWith(const CGRect& other) const;
  CGRect insetBy(CGFloat dx, CGFloat dy) const;
  CGRect offsetBy(CGFloat dx, CGFloat dy) const;

  friend bool operator==(const CGRect&, const CGRect&) = default;
};

/// Distances inward from each edge of a rectangle.
struct UIEdgeInsets {
  CGFloat top = 0, left = 0, bottom = 0, right = 0;
  friend bool operator==(const UIEdgeInsets&, const UIEdgeInsets&) = default;
  friend UIEdgeInsets operator+(const UIEdgeInsets& a, const UIEdgeInsets& b) {
    return {a.top + b.top, a.left + b.left, a.bottom + b.bottom, a.right + b.right};
  }
  friend UIEdgeInsets operator-(const UIEdgeInsets& a, const UIEdgeInsets& b) {
    return {a.top - b.top, a.left - b.left, a.bottom - b.bottom, a.right - b.right};
  }
};

/// `rect` made smaller by `insets` on each side.
CGRect insetRect(const CGRect& rect, const UIEdgeInsets& insets);

/// x' = a·x + c·y + tx, y' = b·x + d·y + ty.
struct CGAffineTransform {
  CGFloat a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

  static CGAffineTransform identity() { return {}; }
  static CGAffineTransform makeTranslation(CGFloat tx, CGFloat ty) { return {1, 0, 0, 1, tx, ty}; }
  static CGAffineTransform makeScale(CGFloat sx, CGFloat sy) { return {sx, 0, 0, sy, 0, 0}; }
  static CGAffineTransform makeRotation(CGFloat angle);

  bool isIdentity() const { return *this == CGAffineTransform{}; }
  /// This transform followed by `next`.
  CGAffineTransform concat(const CGAffineTransform& next) const;
  CGAffineTransform translatedBy(CGFloat x, CGFloat y) const { return makeTranslation(x, y).concat(*this); }
  CGAffineTransform scaledBy(CGFloat x, CGFloat y) const { return makeScale(x, y).concat(*this); }
  CGAffineTransform rotatedBy(CGFloat angle) const { return makeRotation(angle).concat(*this); }
  /// The inverse; the transform itself when it cannot be inverted (determinant zero).
  CGAffineTransform inverted() const;
  CGPoint apply(CGPoint p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
  /// The bounding box of the transformed rectangle.
  CGRect apply(const CGRect& r) const;

  friend bool operator==(const CGAffineTransform&, const CGAffineTransform&) = default;
};

/// A layer transform as a 4 × 4 matrix applied to row vectors (translation in m41…m43). Layers of
/// this toolkit draw in the plane, so only its affine part (m11, m12, m21, m22, m41, m42) moves
/// points; scales in z and other entries are kept as values.
struct CATransform3D {
  CGFloat m11 = 1, m12 = 0, m13 = 0, m14 = 0;
  CGFloat m21 = 0, m22 = 1, m23 = 0, m24 = 0;
  CGFloat m31 = 0, m32 = 0, m33 = 1, m34 = 0;
  CGFloat m41 = 0, m42 = 0, m43 = 0, m44 = 1;

  static CATransform3D identity() { return {}; }
  static CATransform3D makeScale(CGFloat sx, CGFloat sy, CGFloat sz);
  static CATransform3D makeTranslation(CGFloat tx, CGFloat ty, CGFloat tz);
  /// Rotation by `angle` about the z axis.
  static CATransform3D makeRotation(CGFloat angle);
  static CATransform3D makeAffine(const CGAffineTransform& t);

  bool isIdentity() const { return *this == CATransform3D{}; }
  /// This transform followed by `next`.
  CATransform3D concat(const CATransform3D& next) const;
  /// The part that acts in the plane.
  CGAffineTransform affine() const { return {m11, m12, m21, m22, m41, m42}; }

  friend bool operator==(const CATransform3D&, const CATransform3D&) = default;
};

inline constexpr CGFloat kPi = 3.14159265358979323846;

}  // namespace uikit
