#pragma once
#include <vector>

#include "platform/uikit/Geometry.h"

namespace uikit {

/// Corners of a rectangle, as the platform's bit values.
enum UIRectCorner : unsigned {
  UIRectCornerTopLeft = 1,
  UIRectCornerTopRight = 2,
  UIRectCornerBottomLeft = 4,
  UIRectCornerBottomRight = 8,
  UIRectCornerAllCorners = ~0u,
};

/// A path as the list of its elements. Equal constructions give equal paths, so a test compares
/// a layer's path with the one it expects. Angles are in radians; "clockwise" is as seen on the
/// screen (y grows downward).
class UIBezierPath {
 public:
  enum class ElementKind { MoveTo, LineTo, CurveTo, Arc, Close };
  struct Element {
    ElementKind kind = ElementKind::MoveTo;
    CGPoint point;             // MoveTo, LineTo, CurveTo end; Arc centre
    CGPoint control1, control2;  // CurveTo
    CGFloat radius = 0, startAngle = 0, endAngle = 0;  // Arc
    bool clockwise = true;
    friend bool operator==(const Element&, const Element&) = default;
  };

  UIBezierPath() = default;
  /// A circular arc around `center`.
  static UIBezierPath arc(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle, bool clockwise);
  static UIBezierPath rect(const CGRect& rect);
  static UIBezierPath ovalInRect(const CGRect& rect);
  static UIBezierPath roundedRect(const CGRect& rect, CGFloat cornerRadius);
  /// Rounds only `corners`, each with `radii` (radii are clamped to half the rectangle's sides).
  static UIBezierPath roundedRect(const CGRect& rect, unsigned corners, CGSize radii);

  void moveTo(CGPoint p);
  void addLineTo(CGPoint p);
  void addCurveTo(CGPoint end, CGPoint control1, CGPoint control2);
  void addArc(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle, bool clockwise);
  void closePath();
  void append(const UIBezierPath& other);
  /// Moves every point by the transform's translation and scales and turns arcs with it.
  void applyTransform(const CGAffineTransform& t);

  const std::vector<Element>& elements() const { return elements_; }
  bool isEmpty() const { return elements_.empty(); }
  /// The smallest rectangle holding every point of the path (curves by their control points).
  CGRect bounds() const;
  /// The point where the path ends now.
  CGPoint currentPoint() const { return current_; }

  friend bool operator==(const UIBezierPath&, const UIBezierPath&) = default;

 private:
  std::vector<Element> elements_;
  CGPoint current_;
};

}  // namespace uikit
