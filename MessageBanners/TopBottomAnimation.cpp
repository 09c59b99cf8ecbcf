#include "MessageBanners/TopBottomAnimation.h"

#include <cmath>

#include "MessageBanners/BaseView.h"
#include "MessageBanners/CornerRoundingView.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/GestureRecognizer.h"
#include "platform/uikit/View.h"

namespace MessageBanners {

using uikit::CGAffineTransform;
using uikit::UIView;

namespace {
constexpr unsigned kSpringOptions = uikit::UIViewAnimationOptionBeginFromCurrentState |
                                    uikit::UIViewAnimationOptionAllowUserInteraction |
                                    uikit::UIViewAnimationOptionCurveLinear;  // 0x30006
constexpr unsigned kHideOptions =
    uikit::UIViewAnimationOptionBeginFromCurrentState | uikit::UIViewAnimationOptionCurveEaseIn;  // 0x10004
constexpr unsigned kCornersBottom = 4 | 8;                                                        // bottom-left, bottom-right
constexpr unsigned kCornersTop = 1 | 2;                                                           // top-left, top-right
}  // namespace

std::shared_ptr<TopBottomAnimation> TopBottomAnimation::create(Style style,
                                                               const std::shared_ptr<AnimationDelegate>& delegate) {
  std::shared_ptr<TopBottomAnimation> animation(new TopBottomAnimation(style));
  animation->setDelegate(delegate);
  return animation;
}

TopBottomAnimation::~TopBottomAnimation() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

const std::shared_ptr<uikit::UIPanGestureRecognizer>& TopBottomAnimation::panGestureRecognizer() {
  if (!pan_) {
    pan_ = std::make_shared<uikit::UIPanGestureRecognizer>();
    pan_->addTarget<TopBottomAnimation>(shared_from_this(), "pan:",
                                        [](TopBottomAnimation& self, uikit::UIGestureRecognizer& sender) { self.pan(sender); });
  }
  return pan_;
}

Animator::Completion TopBottomAnimation::wrapCompletion(Completion completion) {
  return [completion = std::move(completion)](bool finished) {
    // An animation cut short while the app is not active still counts as done, so the queue moves on.
    if (!completion) return;
    if (finished) return completion(true);
    completion(uikit::UIApplication::shared().applicationState() != uikit::UIApplicationState::Active);
  };
}

void TopBottomAnimation::install(const AnimationContext& context) {
  auto message = context.messageView();
  auto container = context.containerView();
  messageView_ = message;
  containerView_ = container;
  context_.emplace(context);
  if (!message || !container) return;
  if (auto* adjustable = dynamic_cast<MarginAdjustable*>(message.get())) bounceOffset_ = adjustable->bounceAnimationOffset();

  message->setTranslatesAutoresizingMaskIntoConstraints(false);
  container->addSubview(message);
  uikit::NSLayoutConstraint::activateConstraints({
      message->leadingAnchor().constraintEqualTo(container->leadingAnchor()),
      message->trailingAnchor().constraintEqualTo(container->trailingAnchor()),
  });
  auto edge = style_ == Style::Top ? message->topAnchor().constraintEqualTo(container->topAnchor(), -bounceOffset_)
                                   : message->bottomAnchor().constraintEqualTo(container->bottomAnchor(), bounceOffset_);
  edge->setPriority(200);
  uikit::NSLayoutConstraint::activateConstraints({edge});

  container->layoutIfNeeded();
  adjustMargins();
  container->layoutIfNeeded();

  const double height = message->frame().height();
  message->setTransform(CGAffineTransform::makeTranslation(0, style_ == Style::Top ? -height : height));

  auto* backgroundViewable = dynamic_cast<BackgroundViewable*>(message.get());
  if (context.interactiveHide()) {
    // A message whose background is gone is dragged by itself.
    std::shared_ptr<UIView> target = backgroundViewable ? backgroundViewable->backgroundView() : nullptr;
    (target ? target : message)->addGestureRecognizer(panGestureRecognizer());
  }
  if (backgroundViewable) {
    if (auto rounding = std::dynamic_pointer_cast<CornerRoundingView>(backgroundViewable->backgroundView());
        rounding && rounding->roundsLeadingCorners()) {
      rounding->setRoundedCorners(style_ == Style::Top ? kCornersBottom : kCornersTop);
    }
  }
}

double TopBottomAnimation::initialSpringVelocity() const {
  auto message = messageView();
  if (!message) return 0;
  const double distance = std::fabs(message->transform().ty);
  if (distance == 0) return 0;
  return std::min(closeSpeed_ / distance, 0.0);
}

void TopBottomAnimation::springToRest(double initialVelocity, std::function<void(bool)> completion) {
  std::weak_ptr<UIView> weakMessage = messageView_;
  UIView::animateWithSpring(
      showDuration_, 0, springDamping, initialVelocity, kSpringOptions,
      [weakMessage] {
        if (auto message = weakMessage.lock()) message->setTransform(CGAffineTransform::identity());
      },
      std::move(completion));
}

void TopBottomAnimation::show(const AnimationContext& context, Completion completion) {
  foundation::NotificationCenter::defaultCenter().addObserver(
      weak_from_this(), uikit::UIDeviceOrientationDidChangeNotification,
      [](TopBottomAnimation& self, const foundation::Notification&) { self.adjustMargins(); });
  install(context);
  if (!messageView()) {
    if (completion) completion(false);
    return;
  }
  springToRest(initialSpringVelocity(), wrapCompletion(std::move(completion)));
}

void TopBottomAnimation::hide(const AnimationContext& context, Completion completion) {
  foundation::NotificationCenter::defaultCenter().removeObserver(this);
  context_.emplace(context);
  auto message = context.messageView();
  const Style style = style_;
  UIView::animate(
      hideDuration_, 0, kHideOptions,
      [message, style] {
        const auto frame = message->frame();
        const double y = style == Style::Top ? -frame.height() : frame.maxY() + frame.height();
        message->setTransform(CGAffineTransform::makeTranslation(0, y));
      },
      wrapCompletion(std::move(completion)));
}

void TopBottomAnimation::adjustMargins() {
  auto message = messageView();
  if (!message || !context_) return;
  auto* adjustable = dynamic_cast<MarginAdjustable*>(message.get());
  if (!adjustable) return;
  message->preservesSuperviewLayoutMargins = false;
  message->insetsLayoutMarginsFromSafeArea = false;
  auto margins = adjustable->defaultMarginAdjustment(*context_);
  if (style_ == Style::Top) margins.top += bounceOffset_;
  else margins.bottom += bounceOffset_;
  message->setLayoutMargins(margins);
}

void TopBottomAnimation::pan(uikit::UIGestureRecognizer& sender) {
  auto& recognizer = static_cast<uikit::UIPanGestureRecognizer&>(sender);
  using State = uikit::UIGestureRecognizerState;
  auto message = messageView();
  switch (recognizer.state()) {
    case State::Changed: {
      if (!message) return;
      const double height = message->bounds().height() - bounceOffset_;
      if (height <= 0) return;
      const double velocity = recognizer.velocityInView(message.get()).y;
      const double translation = recognizer.translationInView(message.get()).y;
      // Positive means towards the edge the message came from: dismissing.
      const double towardsEdge = style_ == Style::Bottom ? translation : -translation;
      const double rubberBand = towardsEdge >= 0 ? towardsEdge : -std::pow(std::fabs(translation), 0.7);
      if (!closing_) {
        if (auto* viewable = dynamic_cast<BackgroundViewable*>(message.get())) {
          auto background = viewable->backgroundView();
          if (background && background != message) {
            rubberBanding_ = style_ == Style::Bottom ? background->frame().maxY() < message->bounds().height()
                                                     : background->frame().minY() > 0;
          }
        }
        if (!rubberBanding_ && rubberBand < 0) return;
        closing_ = true;
        if (auto delegate = this->delegate()) delegate->panStarted(*this);
      }
      const double displacement = rubberBanding_ ? rubberBand : std::max(rubberBand, 0.0);
      message->setTransform(
          CGAffineTransform::makeTranslation(0, style_ == Style::Bottom ? displacement : -displacement));
      closeSpeed_ = style_ == Style::Bottom ? velocity : -velocity;
      closePercent_ = towardsEdge / height;
      panTranslationY_ = towardsEdge;
      return;
    }
    case State::Ended:
    case State::Cancelled: {
      if (closeSpeed_ > closeSpeedThreshold || closePercent_ > closePercentThreshold ||
          panTranslationY_ > closeAbsoluteThreshold) {
        if (auto delegate = this->delegate()) delegate->hide(*this);
        return;
      }
      closing_ = false;
      rubberBanding_ = false;
      closeSpeed_ = closePercent_ = panTranslationY_ = 0;
      std::weak_ptr<TopBottomAnimation> weakSelf = weak_from_this();
      auto sendPanEnded = [weakSelf](bool) {
        auto self = weakSelf.lock();
        if (!self) return;
        if (auto delegate = self->delegate()) delegate->panEnded(*self);
      };
      if (!message) return sendPanEnded(true);
      springToRest(initialSpringVelocity(), wrapCompletion(sendPanEnded));
      return;
    }
    default:
      return;
  }
}

}  // namespace MessageBanners
