#include "platform/uikit/Animation.h"

#include <algorithm>
#include <cmath>

#include "platform/dispatch/Clock.h"

namespace uikit {

double CACurrentMediaTime() { return dispatch::Clock::current().uptime(); }

double CAAnimation::activeDuration() const {
  double cycles = repeatCount > 0 ? repeatCount : 1;
  if (std::isinf(cycles)) return kRepeatForever;
  return effectiveDuration() * cycles * (autoreverses ? 2 : 1);
}

std::optional<double> CAAnimation::progressAt(double local) const {
  double active = activeDuration();
  if (std::isnan(local)) return std::nullopt;
  const bool backwards = fillMode == CAFillMode::Backwards || fillMode == CAFillMode::Both;
  const bool forwards = fillMode == CAFillMode::Forwards || fillMode == CAFillMode::Both;
  if (local < 0) {
    if (!backwards) return std::nullopt;
    local = 0;
  }
  if (local > active) {
    if (!forwards) return std::nullopt;
    local = active;
  }
  double d = effectiveDuration();
  double cycleLength = autoreverses ? 2 * d : d;
  double inCycle = local >= active ? cycleLength : std::fmod(local, cycleLength);
  if (local > 0 && inCycle == 0 && local >= active) inCycle = cycleLength;
  double p = inCycle / d;
  if (autoreverses && p > 1) p = 2 - p;
  p = std::clamp(p, 0.0, 1.0);
  return timingFunction ? timingFunction->evaluate(p) : p;
}

std::shared_ptr<CABasicAnimation> CABasicAnimation::create(std::string keyPath) {
  auto a = std::make_shared<CABasicAnimation>();
  a->keyPath = std::move(keyPath);
  return a;
}

std::optional<AnimationValue> CABasicAnimation::valueAt(const std::string& path, double local,
                                                        const AnimationValue& base) const {
  if (path != keyPath) return std::nullopt;
  auto p = progressAt(local);
  if (!p) return std::nullopt;
  const AnimationValue& from = std::holds_alternative<std::monostate>(fromValue) ? base : fromValue;
  const AnimationValue& to = std::holds_alternative<std::monostate>(toValue) ? base : toValue;
  return interpolate(from, to, shape(*p));
}

std::shared_ptr<CASpringAnimation> CASpringAnimation::create(std::string keyPath) {
  auto a = std::make_shared<CASpringAnimation>();
  a->keyPath = std::move(keyPath);
  return a;
}

double CASpringAnimation::shape(double p) const {
  if (p >= 1) return 1;
  // The envelope decays to a thousandth of the distance at the end of the duration, so the
  // spring has visibly settled when the record ends.
  double zeta = std::clamp(dampingRatio, 0.01, 1.0);
  double t = p * effectiveDuration();
  double omega = std::log(1000.0) / (zeta * effectiveDuration());
  double v0 = -initialVelocity;
  if (zeta >= 1.0) return 1 - std::exp(-omega * t) * (1 + (omega + v0) * t);
  double wd = omega * std::sqrt(1 - zeta * zeta);
  return 1 - std::exp(-zeta * omega * t) *
                 (std::cos(wd * t) + (zeta * omega + v0) / wd * std::sin(wd * t));
}

std::shared_ptr<CAKeyframeAnimation> CAKeyframeAnimation::create(std::string keyPath) {
  auto a = std::make_shared<CAKeyframeAnimation>();
  a->keyPath = std::move(keyPath);
  return a;
}

std::optional<AnimationValue> CAKeyframeAnimation::valueAt(const std::string& path, double local,
                                                           const AnimationValue&) const {
  if (path != keyPath || values.empty()) return std::nullopt;
  auto p = progressAt(local);
  if (!p) return std::nullopt;
  if (values.size() == 1) return values.front();
  std::size_t n = values.size();
  auto timeOf = [&](std::size_t i) {
    return keyTimes.size() == n ? keyTimes[i] : static_cast<double>(i) / static_cast<double>(n - 1);
  };
  if (*p <= timeOf(0)) return values.front();
  for (std::size_t i = 0; i + 1 < n; ++i) {
    double t0 = timeOf(i), t1 = timeOf(i + 1);
    if (*p <= t1) {
      double f = t1 > t0 ? (*p - t0) / (t1 - t0) : 1.0;
      if (i < timingFunctions.size()) f = timingFunctions[i].evaluate(f);
      return interpolate(values[i], values[i + 1], f);
    }
  }
  return values.back();
}

std::shared_ptr<CAAnimationGroup> CAAnimationGroup::create() { return std::make_shared<CAAnimationGroup>(); }

std::shared_ptr<CAAnimation> CAAnimationGroup::copy() const {
  auto g = std::make_shared<CAAnimationGroup>(*this);
  for (auto& child : g->animations)
    if (child) child = child->copy();
  return g;
}

bool CAAnimationGroup::animates(const std::string& keyPath) const {
  return std::any_of(animations.begin(), animations.end(),
                     [&](const auto& a) { return a && a->animates(keyPath); });
}

std::optional<AnimationValue> CAAnimationGroup::valueAt(const std::string& keyPath, double local,
                                                        const AnimationValue& base) const {
  auto p = progressAt(local);
  if (!p) return std::nullopt;
  // Children run on the group's (timed) clock.
  double groupTime = *p * effectiveDuration();
  std::optional<AnimationValue> result;
  for (const auto& child : animations) {
    if (!child || !child->animates(keyPath)) continue;
    if (auto v = child->valueAt(keyPath, groupTime - child->beginTime, result ? *result : base)) result = v;
  }
  return result;
}

}  // namespace uikit
