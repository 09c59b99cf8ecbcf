#include "TovelCommon/AnimationFinishingOperation.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/uikit/View.h"

namespace tovel {

AnimationFinishingOperation::AnimationFinishingOperation(double duration, double delay, unsigned options,
                                                         std::function<void()> animations,
                                                         std::function<void()> animationsCompletion)
    : duration_(duration),
      delay_(delay),
      options_(options),
      animations_(std::move(animations)),
      animationsCompletion_(std::move(animationsCompletion)) {}

std::shared_ptr<AnimationFinishingOperation> AnimationFinishingOperation::create(
    double duration, double delay, unsigned options, std::function<void()> animations,
    std::function<void()> animationsCompletion) {
  return std::shared_ptr<AnimationFinishingOperation>(new AnimationFinishingOperation(
      duration, delay, options, std::move(animations), std::move(animationsCompletion)));
}

void AnimationFinishingOperation::main() {
  std::weak_ptr<AnimationFinishingOperation> weakSelf =
      std::static_pointer_cast<AnimationFinishingOperation>(shared_from_this());
  dispatch::DispatchQueue::main()->async([weakSelf] {
    auto self = weakSelf.lock();
    if (!self) return;
    const std::function<void()> noAnimations = [] {};
    uikit::UIView::animate(self->duration_, self->delay_, self->options_,
                           self->animations_ ? self->animations_ : noAnimations, [self](bool) {
                             if (self->animationsCompletion_) self->animationsCompletion_();
                             self->finish();
                           });
  });
}

}  // namespace tovel
