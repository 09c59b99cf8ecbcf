#pragma once
#include <string>

namespace uikit {

/// Pacing of an animation: a cubic Bézier from (0, 0) to (1, 1) through two control points.
/// Functions compare by their control points.
class CAMediaTimingFunction {
 public:
  enum class Name { Linear, EaseIn, EaseOut, EaseInEaseOut, Default };

  CAMediaTimingFunction() : CAMediaTimingFunction(Name::Linear) {}
  explicit CAMediaTimingFunction(Name name);
  CAMediaTimingFunction(double c1x, double c1y, double c2x, double c2y);

  /// Progress of the value (0…1, springing past 1 never happens here) at time fraction `x`.
  double evaluate(double x) const;
  double c1x() const { return c1x_; }
  double c1y() const { return c1y_; }
  double c2x() const { return c2x_; }
  double c2y() const { return c2y_; }

  friend bool operator==(const CAMediaTimingFunction&, const CAMediaTimingFunction&) = default;

 private:
  double c1x_, c1y_, c2x_, c2y_;
};

}  // namespace uikit
