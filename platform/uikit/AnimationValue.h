#pragma once
#include <optional>
#include <variant>

#include "platform/uikit/BezierPath.h"
#include "platform/uikit/Color.h"
#include "platform/uikit/Geometry.h"

namespace uikit {

/// A value an animation moves between: a number, a point, a size, a rectangle, a transform, a
/// colour or a path. The empty alternative stands for an absent value (a nil colour or path).
using AnimationValue =
    std::variant<std::monostate, double, CGPoint, CGSize, CGRect, CATransform3D, UIColor, UIBezierPath>;

/// The value a fraction `t` of the way from `from` to `to`. Numbers, geometry, transforms and
/// colours move component by component; paths of the same shape move point by point; anything
/// else jumps half way.
AnimationValue interpolate(const AnimationValue& from, const AnimationValue& to, double t);

/// Typed reads: the number, colour, … held, or nothing when it holds another kind.
std::optional<double> numberOf(const AnimationValue& v);

}  // namespace uikit
