#pragma once
#include <functional>
#include <memory>

#include "TovelCommon/FinishingOperation.h"

namespace tovel {

/// Runs one view animation on the main queue and finishes when the animation completes, whether
/// or not it ran to its end. The posted block holds the operation weakly: an operation released
/// before the main queue runs it never animates and never finishes. The animation's completion
/// holds it strongly, runs `animationsCompletion` and then finishes.
class AnimationFinishingOperation : public FinishingOperation {
 public:
  static std::shared_ptr<AnimationFinishingOperation> create(double duration, double delay, unsigned options,
                                                             std::function<void()> animations,
                                                             std::function<void()> animationsCompletion = {});
  void main() override;

 protected:
  AnimationFinishingOperation(double duration, double delay, unsigned options, std::function<void()> animations,
                              std::function<void()> animationsCompletion);

 private:
  const double duration_;
  const double delay_;
  const unsigned options_;
  const std::function<void()> animations_;
  const std::function<void()> animationsCompletion_;
};

}  // namespace tovel
