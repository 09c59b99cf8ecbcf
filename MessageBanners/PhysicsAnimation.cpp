#include "MessageBanners/PhysicsAnimation.h"

#include <algorithm>
#include <cmath>

#include "MessageBanners/BaseView.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/DynamicAnimator.h"
#include "platform/uikit/GestureRecognizer.h"
#include "platform/uikit/Transaction.h"
#include "platform/uikit/View.h"

namespace MessageBanners {

using uikit::CGAffineTransform;
using uikit::CGPoint;
using uikit::UIView;

namespace {
constexpr unsigned kPopOptions = uikit::UIViewAnimationOptionBeginFromCurrentState |
                                 uikit::UIViewAnimationOptionAllowUserInteraction |
                                 uikit::UIViewAnimationOptionCurveLinear;  // 0x30006
constexpr unsigned kShrinkOptions = uikit::UIViewAnimationOptionBeginFromCurrentState |
                                    uikit::UIViewAnimationOptionAllowUserInteraction |
                                    uikit::UIViewAnimationOptionCurveEaseIn;  // 0x10006
/// A throw needs this speed (points per second); faster throws are capped at the second value.
constexpr double kThrowSpeed = 600;
constexpr double kMaxThrowSpeed = 1800;
constexpr double kMaxAngularVelocity = 10;

/// The part of a message that shows: its background when it has one, else the message itself.
std::shared_ptr<UIView> visiblePart(const std::shared_ptr<UIView>& message) {
  if (auto* viewable = dynamic_cast<BackgroundViewable*>(message.get())) {
    if (auto background = viewable->backgroundView()) return background;
  }
  return message;
}
}  // namespace

// MARK: - Drag state

PhysicsPanHandler::State::State(const std::shared_ptr<UIView>& messageView, const std::shared_ptr<UIView>& containerView)
    : messageView_(messageView),
      containerView_(containerView),
      dynamicAnimator_(uikit::UIDynamicAnimator::create(containerView)),
      itemBehavior_(uikit::UIDynamicItemBehavior::create({messageView})) {
  itemBehavior_->allowsRotation = true;
  dynamicAnimator_->addBehavior(itemBehavior_);
}

void PhysicsPanHandler::State::setAttachmentBehavior(std::shared_ptr<uikit::UIAttachmentBehavior> attachment) {
  if (attachment_) dynamicAnimator_->removeBehavior(attachment_);
  attachment_ = std::move(attachment);
  if (attachment_) {
    dynamicAnimator_->addBehavior(attachment_);
    takeSnapshot();
  }
}

void PhysicsPanHandler::State::takeSnapshot() {
  double angle = snapshots_.empty() ? 0 : snapshots_.back().angle;
  if (auto message = messageView_.lock()) {
    const auto t = message->transform();
    angle = std::atan2(t.b, t.a);
  }
  snapshots_.push_back({angle, dispatch::Clock::current().wallTime()});
}

double PhysicsPanHandler::State::angularVelocity() const {
  if (snapshots_.empty()) return 0;
  const auto last = snapshots_.back();
  for (auto it = snapshots_.rbegin() + 1; it != snapshots_.rend(); ++it) {
    if (it->angle != last.angle && it->time != last.time) return (last.angle - it->angle) / (last.time - it->time);
  }
  return 0;
}

void PhysicsPanHandler::State::stop() {
  auto message = messageView_.lock();
  if (!message) {
    dynamicAnimator_->removeAllBehaviors();
    return;
  }
  const auto center = message->center();
  const auto transform = message->transform();
  dynamicAnimator_->removeAllBehaviors();
  message->setCenter(center);
  message->setTransform(transform);
}

// MARK: - Pan handler

const std::shared_ptr<uikit::UIPanGestureRecognizer>& PhysicsPanHandler::pan() {
  if (!pan_) {
    pan_ = std::make_shared<uikit::UIPanGestureRecognizer>();
    pan_->addTarget<PhysicsPanHandler>(shared_from_this(), "pan:",
                                       [](PhysicsPanHandler& self, uikit::UIGestureRecognizer& sender) { self.handlePan(sender); });
  }
  return pan_;
}

void PhysicsPanHandler::configure(const AnimationContext& context, const std::shared_ptr<Animator>& animator) {
  if (auto previous = messageView_.lock()) visiblePart(previous)->removeGestureRecognizer(pan().get());
  auto message = context.messageView();
  messageView_ = message;
  if (message) visiblePart(message)->addGestureRecognizer(pan());
  containerView_ = context.containerView();
  animator_ = animator;
}

void PhysicsPanHandler::stopState() {
  if (state_) state_->stop();
}

void PhysicsPanHandler::handlePan(uikit::UIGestureRecognizer& sender) {
  auto message = messageView_.lock();
  auto container = containerView_.lock();
  auto animator = animator_.lock();
  if (!message || !container || !animator) return;
  auto& recognizer = static_cast<uikit::UIPanGestureRecognizer&>(sender);
  const CGPoint location = recognizer.locationInView(container.get());
  using StateKind = uikit::UIGestureRecognizerState;
  switch (recognizer.state()) {
    case StateKind::Began: {
      if (auto delegate = animator->delegate()) delegate->panStarted(*animator);
      state_.emplace(message, container);
      const CGPoint center = message->center();
      restingCenter_ = center;
      state_->setAttachmentBehavior(uikit::UIAttachmentBehavior::create(
          message, {location.x - center.x, location.y - center.y}, location));
      std::weak_ptr<PhysicsPanHandler> weakSelf = weak_from_this();
      state_->itemBehavior()->action = [weakSelf] {
        if (auto self = weakSelf.lock()) self->physicsStep();
      };
      return;
    }
    case StateKind::Changed:
      if (!state_) return;
      state_->takeSnapshot();
      if (auto attachment = state_->attachmentBehavior()) attachment->anchorPoint = location;
      return;
    case StateKind::Ended:
    case StateKind::Cancelled: {
      if (!state_) return;
      state_->takeSnapshot();
      if (auto attachment = state_->attachmentBehavior()) attachment->anchorPoint = location;
      const CGPoint velocity = recognizer.velocityInView(container.get());
      const double speed = std::hypot(velocity.x, velocity.y);
      const double angular = state_->angularVelocity();
      if (speed > kThrowSpeed) {
        const double scale = std::min(kMaxThrowSpeed / speed, 1.0);
        state_->itemBehavior()->addLinearVelocity({velocity.x * scale, velocity.y * scale}, message.get());
        const double angularScale = angular == 0 ? 1.0 : std::min(kMaxAngularVelocity / std::fabs(angular), 1.0);
        state_->itemBehavior()->addAngularVelocity(angular * angularScale, message.get());
        state_->setAttachmentBehavior(nullptr);
        return;
      }
      state_->stop();
      state_.reset();
      if (auto delegate = animator->delegate()) delegate->panEnded(*animator);
      const auto bounds = container->bounds();
      const CGPoint rest = restingCenter_.value_or(CGPoint{bounds.midX(), bounds.midY()});
      std::weak_ptr<UIView> weakMessage = message;
      UIView::animateWithSpring(0.5, 0, 0.65, 0, uikit::UIViewAnimationOptionBeginFromCurrentState, [weakMessage, rest] {
        if (auto m = weakMessage.lock()) {
          m->setCenter(rest);
          m->setTransform(CGAffineTransform::identity());
        }
      });
      return;
    }
    default:
      return;
  }
}

void PhysicsPanHandler::physicsStep() {
  auto message = messageView_.lock();
  auto container = containerView_.lock();
  auto animator = animator_.lock();
  if (!message || !container || !animator || isOffScreen_) return;
  auto visible = visiblePart(message);
  if (visible->convertRectToView(visible->bounds(), container.get()).intersects(container->bounds())) return;
  // Only the first step outside the container asks for the hide.
  isOffScreen_ = true;
  std::weak_ptr<Animator> weakAnimator = animator;
  dispatch::DispatchQueue::main()->asyncAfter(hideDelay, [weakAnimator] {
    auto animator = weakAnimator.lock();
    if (!animator) return;
    if (auto delegate = animator->delegate()) delegate->hide(*animator);
  });
}

// MARK: - Animation

std::shared_ptr<PhysicsAnimation> PhysicsAnimation::create(const std::shared_ptr<AnimationDelegate>& delegate) {
  std::shared_ptr<PhysicsAnimation> animation(new PhysicsAnimation);
  animation->setDelegate(delegate);
  return animation;
}

PhysicsAnimation::~PhysicsAnimation() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

void PhysicsAnimation::install(const AnimationContext& context) {
  auto message = context.messageView();
  auto container = context.containerView();
  messageView_ = message;
  containerView_ = container;
  context_.emplace(context);
  if (!message || !container) return;
  message->setTranslatesAutoresizingMaskIntoConstraints(false);
  container->addSubview(message);
  std::shared_ptr<uikit::NSLayoutConstraint> placed;
  switch (placement) {
    case Placement::Top: placed = message->topAnchor().constraintEqualTo(container->topAnchor()); break;
    case Placement::Center: placed = message->centerYAnchor().constraintEqualTo(container->centerYAnchor()); break;
    case Placement::Bottom: placed = message->bottomAnchor().constraintEqualTo(container->bottomAnchor()); break;
  }
  placed->setPriority(200);
  uikit::NSLayoutConstraint::activateConstraints({
      placed,
      message->leadingAnchor().constraintEqualTo(container->leadingAnchor()),
      message->trailingAnchor().constraintEqualTo(container->trailingAnchor()),
  });
  container->layoutIfNeeded();
  adjustMargins();
  container->layoutIfNeeded();
  if (context.interactiveHide()) panHandler->configure(context, shared_from_this());
}

void PhysicsAnimation::adjustMargins() {
  auto message = messageView();
  if (!message || !context_) return;
  auto* adjustable = dynamic_cast<MarginAdjustable*>(message.get());
  if (!adjustable) return;
  message->preservesSuperviewLayoutMargins = false;
  message->insetsLayoutMarginsFromSafeArea = false;
  message->setLayoutMargins(adjustable->defaultMarginAdjustment(*context_));
}

void PhysicsAnimation::show(const AnimationContext& context, Completion completion) {
  foundation::NotificationCenter::defaultCenter().addObserver(
      weak_from_this(), uikit::UIDeviceOrientationDidChangeNotification,
      [](PhysicsAnimation& self, const foundation::Notification&) { self.adjustMargins(); });
  install(context);
  auto message = context.messageView();
  if (!message) {
    if (completion) completion(false);
    return;
  }
  message->setAlpha(0.25);
  message->setTransform(CGAffineTransform::makeScale(0.6, 0.6));
  uikit::CATransaction::begin();
  uikit::CATransaction::setCompletionBlock([completion = std::move(completion)] {
    if (completion) completion(true);
  });
  UIView::animateWithSpring(showDuration_, 0, 0.6, 0, kPopOptions,
                            [message] { message->setTransform(CGAffineTransform::identity()); });
  UIView::animate(showDuration_ * 0.3, 0, kPopOptions, [message] { message->setAlpha(1); });
  uikit::CATransaction::commit();
}

void PhysicsAnimation::hide(const AnimationContext& context, Completion completion) {
  foundation::NotificationCenter::defaultCenter().removeObserver(this);
  auto message = context.messageView();
  if (panHandler->isOffScreen()) {
    // Thrown away: it stays invisible while it shrinks, and the physics stop where it flew.
    message->setAlpha(0);
    panHandler->stopState();
  }
  context_.emplace(context);
  uikit::CATransaction::begin();
  uikit::CATransaction::setCompletionBlock([message, completion = std::move(completion)] {
    message->setAlpha(1);
    message->setTransform(CGAffineTransform::identity());
    if (completion) completion(true);
  });
  UIView::animate(hideDuration_, 0, kShrinkOptions, [message] {
    message->setTransform(CGAffineTransform::makeScale(0.8, 0.8));
    message->setAlpha(0);
  });
  uikit::CATransaction::commit();
}

}  // namespace MessageBanners
