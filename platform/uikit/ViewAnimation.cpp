// View animation blocks: changes made inside a block take effect at once and leave layer
// animation records that end on the clock.

#include "platform/uikit/Animation.h"
#include "platform/uikit/View.h"
#include "platform/uikit/detail/ViewAnimationContext.h"

namespace uikit {
namespace detail {

std::vector<ViewAnimationContext>& viewAnimationStack() {
  thread_local std::vector<ViewAnimationContext> stack;
  return stack;
}

}  // namespace detail

namespace {

CAMediaTimingFunction curveFromOptions(unsigned options) {
  switch ((options >> 16) & 0xF) {
    case 1: return CAMediaTimingFunction(CAMediaTimingFunction::Name::EaseIn);
    case 2: return CAMediaTimingFunction(CAMediaTimingFunction::Name::EaseOut);
    case 3: return CAMediaTimingFunction(CAMediaTimingFunction::Name::Linear);
    default: return CAMediaTimingFunction(CAMediaTimingFunction::Name::EaseInEaseOut);
  }
}

void runBlock(detail::ViewAnimationContext context, const std::function<void()>& animations,
              std::function<void(bool)> completion) {
  context.tracker = std::make_shared<detail::AnimationTracker>(std::move(completion));
  auto tracker = context.tracker;
  detail::viewAnimationStack().push_back(std::move(context));
  detail::blockTrackerStack().push_back(tracker);
  if (animations) animations();
  detail::blockTrackerStack().pop_back();
  detail::viewAnimationStack().pop_back();
  tracker->close();
}

}  // namespace

void UIView::animate(double duration, double delay, unsigned options, const std::function<void()>& animations,
                     std::function<void(bool)> completion) {
  detail::ViewAnimationContext c;
  c.duration = duration;
  c.delay = delay;
  c.options = options;
  c.timing = curveFromOptions(options);
  c.beginFromCurrentState = (options & UIViewAnimationOptionBeginFromCurrentState) != 0;
  runBlock(std::move(c), animations, std::move(completion));
}

void UIView::animate(double duration, const std::function<void()>& animations, std::function<void(bool)> completion) {
  animate(duration, 0, 0, animations, std::move(completion));
}

void UIView::animateWithSpring(double duration, double delay, double dampingRatio, double velocity, unsigned options,
                               const std::function<void()>& animations, std::function<void(bool)> completion) {
  detail::ViewAnimationContext c;
  c.duration = duration;
  c.delay = delay;
  c.options = options;
  c.timing = curveFromOptions(options);
  c.spring = true;
  c.dampingRatio = dampingRatio;
  c.velocity = velocity;
  c.beginFromCurrentState = (options & UIViewAnimationOptionBeginFromCurrentState) != 0;
  runBlock(std::move(c), animations, std::move(completion));
}

void UIView::performWithoutAnimation(const std::function<void()>& actions) {
  detail::ViewAnimationContext c;
  c.suppressed = true;
  detail::viewAnimationStack().push_back(std::move(c));
  if (actions) actions();
  detail::viewAnimationStack().pop_back();
}

void UIView::beginAnimations() {
  detail::ViewAnimationContext c;
  c.tracker = std::make_shared<detail::AnimationTracker>(nullptr);
  detail::blockTrackerStack().push_back(c.tracker);
  detail::viewAnimationStack().push_back(std::move(c));
}

void UIView::setAnimationDuration(double duration) {
  if (!detail::viewAnimationStack().empty()) detail::viewAnimationStack().back().duration = duration;
}

void UIView::setAnimationDelay(double delay) {
  if (!detail::viewAnimationStack().empty()) detail::viewAnimationStack().back().delay = delay;
}

void UIView::setAnimationCurve(int curve) {
  if (detail::viewAnimationStack().empty()) return;
  unsigned bits = curve >= 0 && curve <= 3 ? static_cast<unsigned>(curve) << 16 : 0;
  detail::viewAnimationStack().back().timing = curveFromOptions(bits);
}

void UIView::setAnimationBeginsFromCurrentState(bool fromCurrent) {
  if (!detail::viewAnimationStack().empty()) detail::viewAnimationStack().back().beginFromCurrentState = fromCurrent;
}

void UIView::commitAnimations() {
  auto& stack = detail::viewAnimationStack();
  if (stack.empty() || !stack.back().tracker) return;
  auto tracker = stack.back().tracker;
  stack.pop_back();
  auto& trackers = detail::blockTrackerStack();
  if (!trackers.empty() && trackers.back() == tracker) trackers.pop_back();
  tracker->close();
}

bool UIView::areAnimationsEnabled() {
  auto& stack = detail::viewAnimationStack();
  return stack.empty() || !stack.back().suppressed;
}

void UIView::recordAnimatedChange(const std::string& keyPath, const AnimationValue& from, const AnimationValue& to) {
  auto& stack = detail::viewAnimationStack();
  if (stack.empty() || stack.back().suppressed || !stack.back().tracker) return;
  const auto& c = stack.back();
  // A zero-length block changes values at once, with nothing to record.
  if (!(c.duration > 0)) return;
  std::shared_ptr<CABasicAnimation> animation;
  if (c.spring) {
    auto spring = CASpringAnimation::create(keyPath);
    spring->dampingRatio = c.dampingRatio;
    spring->initialVelocity = c.velocity;
    animation = spring;
  } else {
    animation = CABasicAnimation::create(keyPath);
  }
  double now = CACurrentMediaTime();
  animation->fromValue = c.beginFromCurrentState ? layer_->presentationValue(keyPath, now) : from;
  animation->toValue = to;
  animation->duration = c.duration;
  animation->beginTime = c.delay > 0 ? now + c.delay : 0;
  if (c.delay > 0) animation->fillMode = CAFillMode::Backwards;
  animation->timingFunction = c.timing;
  if (c.options & UIViewAnimationOptionRepeat) animation->repeatCount = kRepeatForever;
  animation->autoreverses = (c.options & UIViewAnimationOptionAutoreverse) != 0;
  layer_->addAnimation(animation, keyPath);
}

}  // namespace uikit
