#pragma once
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uikit/AnimationValue.h"
#include "platform/uikit/MediaTimingFunction.h"

namespace uikit {

/// The current media time: the uptime of the process clock, in seconds.
double CACurrentMediaTime();

/// A repeat count that never runs out.
inline constexpr double kRepeatForever = std::numeric_limits<double>::infinity();

/// Whether an animation's values hold before its start and after its end.
enum class CAFillMode { Removed, Forwards, Backwards, Both };

/// The record of an animation: what it moves, when and how. Layers copy an animation when it is
/// added, so changing the caller's object afterwards changes nothing that runs.
class CAAnimation {
 public:
  virtual ~CAAnimation() = default;
  virtual std::shared_ptr<CAAnimation> copy() const = 0;

  /// Seconds per cycle; zero means the platform's default of 0.25.
  double duration = 0;
  /// When the animation starts: zero means "when added"; inside a group, the offset from the
  /// group's start.
  double beginTime = 0;
  std::optional<CAMediaTimingFunction> timingFunction;
  /// Cycles to run; zero counts as one; kRepeatForever never ends.
  double repeatCount = 0;
  bool autoreverses = false;
  /// Taken off its layer when it ends (otherwise it stays; with a forwards fill it holds its
  /// last value).
  bool removedOnCompletion = true;
  /// Backwards: before its start the animation shows its first value (delayed view animations
  /// use this, so nothing jumps before they begin). Forwards: after its end it shows its last.
  CAFillMode fillMode = CAFillMode::Removed;
  /// Called once on the main queue when the animation ends (true) or is removed before (false).
  std::function<void(bool finished)> completion;

  double effectiveDuration() const { return duration > 0 ? duration : 0.25; }
  /// The whole running time: cycles × duration (× 2 when reversing); infinite for endless ones.
  double activeDuration() const;
  /// Whether this animation changes `keyPath` (a group: any of its children).
  virtual bool animates(const std::string& keyPath) const = 0;
  /// The value of `keyPath` at `localTime` seconds after the start, over `base` (the value
  /// without this animation); nothing when it has no effect then.
  virtual std::optional<AnimationValue> valueAt(const std::string& keyPath, double localTime,
                                                const AnimationValue& base) const = 0;

 protected:
  /// The fraction of a cycle at `localTime` after timing, or nothing outside the active time.
  std::optional<double> progressAt(double localTime) const;
};

/// An animation of one key path of a layer ("opacity", "position", "bounds.size", "strokeEnd",
/// "transform.rotation", …).
class CAPropertyAnimation : public CAAnimation {
 public:
  std::string keyPath;
  bool animates(const std::string& path) const override { return path == keyPath; }
};

/// From a value to a value; an absent end stands for the layer's current value.
class CABasicAnimation : public CAPropertyAnimation {
 public:
  static std::shared_ptr<CABasicAnimation> create(std::string keyPath);
  std::shared_ptr<CAAnimation> copy() const override { return std::make_shared<CABasicAnimation>(*this); }

  AnimationValue fromValue;
  AnimationValue toValue;

  std::optional<AnimationValue> valueAt(const std::string& keyPath, double localTime,
                                        const AnimationValue& base) const override;

 protected:
  virtual double shape(double progress) const { return progress; }
};

/// A basic animation that moves like a damped spring and settles at the end of its duration.
class CASpringAnimation : public CABasicAnimation {
 public:
  static std::shared_ptr<CASpringAnimation> create(std::string keyPath);
  std::shared_ptr<CAAnimation> copy() const override { return std::make_shared<CASpringAnimation>(*this); }

  /// 1 settles without overshoot; smaller values overshoot and swing.
  double dampingRatio = 1.0;
  /// Initial speed in units of the whole distance per second.
  double initialVelocity = 0;

 protected:
  double shape(double progress) const override;
};

/// Through a list of values at given fractions of the duration (evenly spaced when none given).
class CAKeyframeAnimation : public CAPropertyAnimation {
 public:
  static std::shared_ptr<CAKeyframeAnimation> create(std::string keyPath);
  std::shared_ptr<CAAnimation> copy() const override { return std::make_shared<CAKeyframeAnimation>(*this); }

  std::vector<AnimationValue> values;
  std::vector<double> keyTimes;
  /// One per segment; the segment moves linearly when absent.
  std::vector<CAMediaTimingFunction> timingFunctions;

  std::optional<AnimationValue> valueAt(const std::string& keyPath, double localTime,
                                        const AnimationValue& base) const override;
};

/// Children that run together on the group's timeline; later children win on a shared key path.
class CAAnimationGroup : public CAAnimation {
 public:
  static std::shared_ptr<CAAnimationGroup> create();
  std::shared_ptr<CAAnimation> copy() const override;

  std::vector<std::shared_ptr<CAAnimation>> animations;

  bool animates(const std::string& keyPath) const override;
  std::optional<AnimationValue> valueAt(const std::string& keyPath, double localTime,
                                        const AnimationValue& base) const override;
};

}  // namespace uikit
