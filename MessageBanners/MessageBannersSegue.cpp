#include "MessageBanners/MessageBannersSegue.h"

#include <utility>

#include "MessageBanners/TopBottomAnimation.h"
#include "MessageBanners/WindowViewController.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/uikit/View.h"

namespace MessageBanners {

using uikit::UIViewController;

namespace {
constexpr double kReleaseCheckSeconds = 2.0;

std::shared_ptr<TopBottomAnimation> stiffAnimation(TopBottomAnimation::Style style) {
  auto animation = TopBottomAnimation::create(style);
  animation->springDamping = 1;
  return animation;
}
}  // namespace

std::shared_ptr<MessageBannersSegue> MessageBannersSegue::create(std::string identifier,
                                                                 std::shared_ptr<UIViewController> source,
                                                                 std::shared_ptr<UIViewController> destination) {
  std::shared_ptr<MessageBannersSegue> segue(
      new MessageBannersSegue(std::move(identifier), std::move(source), std::move(destination)));
  segue->updateConfig([](Config& config) {
    config.dimMode = DimMode::gray(true);
    config.duration = Duration::forever();
  });
  return segue;
}

MessageBannersSegue::MessageBannersSegue(std::string identifier, std::shared_ptr<UIViewController> source,
                                         std::shared_ptr<UIViewController> destination)
    : UIStoryboardSegue(std::move(identifier), std::move(source), std::move(destination), "custom") {}

void MessageBannersSegue::updateConfig(const std::function<void(Config&)>& change) {
  Config config = messenger_->defaultConfig();
  change(config);
  messenger_->setDefaultConfig(std::move(config));
}

void MessageBannersSegue::setPresentationStyle(PresentationStyle style) {
  updateConfig([&](Config& c) { c.presentationStyle = std::move(style); });
}
void MessageBannersSegue::setDuration(Duration duration) {
  updateConfig([&](Config& c) { c.duration = duration; });
}
void MessageBannersSegue::setDimMode(DimMode dimMode) {
  updateConfig([&](Config& c) { c.dimMode = std::move(dimMode); });
}
void MessageBannersSegue::setInteractiveHide(bool interactive) {
  updateConfig([&](Config& c) { c.interactiveHide = interactive; });
}
void MessageBannersSegue::setKeyboardTrackingView(std::shared_ptr<KeyboardTrackingView> view) {
  updateConfig([&](Config& c) { c.keyboardTrackingView = std::move(view); });
}

void MessageBannersSegue::configure(Layout layout) {
  messageView_->setBounceAnimationOffset(0);
  containment = Containment::Content;
  containerView_->setCornerRadius(0);
  containerView_->setRoundsLeadingCorners(false);
  messageView_->applyDropShadow();

  struct Style {
    Containment containment;
    uikit::UIEdgeInsets margins;
    bool collapse;
    double cornerRadius;
    bool roundsLeadingCorners;
    PresentationStyle presentationStyle;
  };
  using S = TopBottomAnimation::Style;
  const Style style = [&]() -> Style {
    switch (layout) {
      case Layout::TopMessage:
        return {Containment::Content, {20, 20, 20, 20}, false, 0, false, PresentationStyle::custom(stiffAnimation(S::Top))};
      case Layout::BottomMessage:
        return {Containment::Content, {20, 20, 20, 20}, false, 0, false, PresentationStyle::custom(stiffAnimation(S::Bottom))};
      case Layout::TopCard:
        return {Containment::Background, {10, 10, 10, 10}, true, 15, false, PresentationStyle::top()};
      case Layout::TopTab:
        return {Containment::BackgroundVertical, {20, 10, 20, 10}, true, 15, true, PresentationStyle::custom(stiffAnimation(S::Top))};
      case Layout::BottomCard:
        return {Containment::Background, {10, 10, 10, 10}, true, 15, false, PresentationStyle::bottom()};
      case Layout::BottomTab:
        return {Containment::BackgroundVertical, {20, 10, 20, 10}, true, 15, true, PresentationStyle::custom(stiffAnimation(S::Bottom))};
      case Layout::Centered:
        break;
    }
    return {Containment::Background, {10, 10, 10, 10}, true, 15, false, PresentationStyle::center()};
  }();
  containment = style.containment;
  messageView_->setLayoutMarginAdditions(style.margins);
  messageView_->setCollapseLayoutMarginAdditions(style.collapse);
  containerView_->setCornerRadius(style.cornerRadius);
  containerView_->setRoundsLeadingCorners(style.roundsLeadingCorners);
  setPresentationStyle(style.presentationStyle);
}

void MessageBannersSegue::perform() {
  auto source = sourceViewController();
  auto destination = destinationViewController();
  if (auto window = std::dynamic_pointer_cast<WindowViewController>(source)) window->install();
  selfRetainer_ = shared_from_this();
  scheduleReleaseCheck();
  if (overrideModalPresentationStyle) destination->modalPresentationStyle = uikit::UIModalPresentationStyle::Custom;
  destination->transitioningDelegate = std::static_pointer_cast<uikit::UIViewControllerTransitioningDelegate>(shared_from_this());
  source->presentViewController(destination, true);
}

void MessageBannersSegue::scheduleReleaseCheck() {
  std::weak_ptr<MessageBannersSegue> weakSelf = weak_from_this();
  dispatch::DispatchQueue::main()->asyncAfter(kReleaseCheckSeconds, [weakSelf] {
    auto self = weakSelf.lock();
    if (!self) return;
    // While the source is on screen the message may still be up; once it is not, let go.
    if (self->sourceViewController()->view()->window()) return self->scheduleReleaseCheck();
    self->selfRetainer_.reset();
  });
}

const std::shared_ptr<detail::SegueTransition>& MessageBannersSegue::hider() {
  if (!hider_) hider_ = std::make_shared<detail::SegueTransition>(false, shared_from_this());
  return hider_;
}

const std::shared_ptr<Presenter>& MessageBannersSegue::presenter() {
  if (!presenter_) presenter_ = Presenter::create(messenger_->defaultConfig(), messageView_, messenger_);
  return presenter_;
}

std::shared_ptr<uikit::UIViewControllerAnimatedTransitioning> MessageBannersSegue::animationControllerForPresentedController(
    UIViewController&, UIViewController&, UIViewController&) {
  auto presenting = std::make_shared<detail::SegueTransition>(true, shared_from_this());
  presenting_ = presenting;
  std::weak_ptr<detail::SegueTransition> weakPresenting = presenting;
  std::weak_ptr<detail::SegueTransition> weakHider = hider();
  std::weak_ptr<UIViewController> weakSource = sourceViewController();
  std::weak_ptr<MessageBannersSegue> weakSelf = weak_from_this();
  updateConfig([&](Config& config) {
    config.eventListeners.push_back([weakPresenting, weakHider, weakSource, weakSelf](const Event& event) {
      if (event.kind == Event::Kind::DidShow) {
        auto presenting = weakPresenting.lock();
        if (presenting && presenting->completeTransition) std::exchange(presenting->completeTransition, nullptr)(true);
        return;
      }
      if (event.kind != Event::Kind::DidHide) return;
      auto hider = weakHider.lock();
      auto source = weakSource.lock();
      if (hider && hider->completeTransition) {
        std::exchange(hider->completeTransition, nullptr)(true);
      } else if (source) {
        // Gone without a dismissal (a swipe, a tap on the dim, a hide in code): the platform's
        // presentation ends with it.
        source->dismissViewControllerAnimated(false);
      }
      if (auto window = std::dynamic_pointer_cast<WindowViewController>(source)) window->uninstall();
      if (auto self = weakSelf.lock()) self->selfRetainer_.reset();
    });
  });
  return presenting;
}

std::shared_ptr<uikit::UIViewControllerAnimatedTransitioning> MessageBannersSegue::animationControllerForDismissedController(
    UIViewController&) {
  return hider();
}

namespace detail {

double SegueTransition::transitionDuration(uikit::UIViewControllerContextTransitioning&) {
  auto segue = segue_.lock();
  if (!segue) return 0.5;
  const auto& animator = segue->presenter()->animator();
  return presenting_ ? animator->showDuration() : animator->hideDuration();
}

void SegueTransition::animateTransition(uikit::UIViewControllerContextTransitioning& context) {
  auto segue = segue_.lock();
  if (!segue) return context.completeTransition(false);
  auto* contextPointer = &context;
  if (!presenting_) {
    // A message that is already leaving (the user dismissed it, and its end dismisses the
    // destination) has nothing left to wait for.
    if (segue->presenter_ && segue->presenter_->isHiding()) return context.completeTransition(true);
    completeTransition = [contextPointer](bool completed) { contextPointer->completeTransition(completed); };
    segue->messenger()->hide(true);
    return;
  }
  auto destinationView = context.viewForKey(uikit::UITransitionContextToViewControllerKey);
  if (!destinationView) return context.completeTransition(false);
  completeTransition = [contextPointer](bool completed) { contextPointer->completeTransition(completed); };

  const auto& container = segue->containerView();
  destinationView->setTranslatesAutoresizingMaskIntoConstraints(false);
  container->addSubview(destinationView);
  uikit::NSLayoutConstraint::activateConstraints({
      destinationView->topAnchor().constraintEqualTo(container->topAnchor()),
      destinationView->bottomAnchor().constraintEqualTo(container->bottomAnchor()),
      destinationView->leadingAnchor().constraintEqualTo(container->leadingAnchor()),
      destinationView->trailingAnchor().constraintEqualTo(container->trailingAnchor()),
  });
  const auto& message = segue->messageView();
  switch (segue->containment) {
    case MessageBannersSegue::Containment::Content: message->installContent(container, {}); break;
    case MessageBannersSegue::Containment::Background: message->installBackground(container, {}); break;
    case MessageBannersSegue::Containment::BackgroundVertical: message->installEdgePinnedBackground(container, {}); break;
  }
  if (auto destination = context.viewControllerForKey(uikit::UITransitionContextToViewControllerKey)) {
    const auto size = destination->preferredContentSize;
    if (size.height > 0) {
      auto height = container->heightAnchor().constraintEqualToConstant(size.height);
      height->setPriority(951);
      height->setActive(true);
    }
    if (size.width > 0) {
      auto width = container->widthAnchor().constraintEqualToConstant(size.width);
      width->setPriority(951);
      width->setActive(true);
    }
  }
  const auto& presenter = segue->presenter();
  presenter->setConfigPresentationContext(
      PresentationContext::view(context.containerView().shared_from_this()));
  segue->messenger()->show(presenter);
}

}  // namespace detail
}  // namespace MessageBanners
