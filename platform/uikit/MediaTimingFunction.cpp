#include "platform/uikit/MediaTimingFunction.h"

#include <algorithm>
#include <cmath>

namespace uikit {
namespace {

double bezier(double t, double p1, double p2) {
  double u = 1 - t;
  return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t;
}

}  // namespace

CAMediaTimingFunction::CAMediaTimingFunction(Name name) {
  switch (name) {
    case Name::Linear: *this = {0, 0, 1, 1}; break;
    case Name::EaseIn: *this = {0.42, 0, 1, 1}; break;
    case Name::EaseOut: *this = {0, 0, 0.58, 1}; break;
    case Name::EaseInEaseOut: *this = {0.42, 0, 0.58, 1}; break;
    case Name::Default: *this = {0.25, 0.1, 0.25, 1}; break;
  }
}

CAMediaTimingFunction::CAMediaTimingFunction(double c1x, double c1y, double c2x, double c2y)
    : c1x_(std::clamp(c1x, 0.0, 1.0)), c1y_(c1y), c2x_(std::clamp(c2x, 0.0, 1.0)), c2y_(c2y) {}

double CAMediaTimingFunction::evaluate(double x) const {
  if (!(x > 0)) return 0;
  if (x >= 1) return 1;
  // x(t) is monotonic on [0, 1]: bisection finds t to well below a pixel's worth of error.
  double lo = 0, hi = 1, t = x;
  for (int i = 0; i < 60; ++i) {
    t = (lo + hi) / 2;
    if (bezier(t, c1x_, c2x_) < x) lo = t;
    else hi = t;
  }
  return bezier(t, c1y_, c2y_);
}

}  // namespace uikit
