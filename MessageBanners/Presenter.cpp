#include "MessageBanners/Presenter.h"

#include "MessageBanners/Identifiable.h"
#include "MessageBanners/MessageBannersError.h"
#include "MessageBanners/MessageView.h"
#include "MessageBanners/PhysicsAnimation.h"
#include "MessageBanners/PresentationContextSelection.h"
#include "MessageBanners/TopBottomAnimation.h"
#include "MessageBanners/WindowViewController.h"
#include "platform/uikit/Accessibility.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/VisualEffectView.h"
#include "platform/uikit/Window.h"

namespace MessageBanners {

using uikit::UIView;
using uikit::UIViewController;

namespace {

/// The masking view of a presenter: it tells the presenter whether the message is in a window,
/// which the queue manager reads from its own queue.
class TrackedMaskingView : public MaskingView {
 public:
  static std::shared_ptr<TrackedMaskingView> create(std::shared_ptr<std::atomic<bool>> inWindow) {
    std::shared_ptr<TrackedMaskingView> view(new TrackedMaskingView(std::move(inWindow)));
    view->setClipsToBounds(true);
    view->registerTapAction();
    return view;
  }
  void didMoveToWindow() override {
    MaskingView::didMoveToWindow();
    *inWindow_ = window() != nullptr;
  }

 private:
  explicit TrackedMaskingView(std::shared_ptr<std::atomic<bool>> inWindow) : inWindow_(std::move(inWindow)) {}
  // Shared, as the view may outlive its presenter inside a container.
  std::shared_ptr<std::atomic<bool>> inWindow_;
};

std::shared_ptr<Animator> animatorFor(const PresentationStyle& style, const std::shared_ptr<PresenterDelegate>& delegate) {
  switch (style.kind()) {
    case PresentationStyle::Kind::Top: return TopBottomAnimation::create(TopBottomAnimation::Style::Top, delegate);
    case PresentationStyle::Kind::Bottom: return TopBottomAnimation::create(TopBottomAnimation::Style::Bottom, delegate);
    case PresentationStyle::Kind::Center: {
      auto physics = PhysicsAnimation::create(delegate);
      physics->placement = PhysicsAnimation::Placement::Center;
      physics->setShowDuration(0.5);
      physics->setHideDuration(0.15);
      return physics;
    }
    case PresentationStyle::Kind::Custom: {
      auto animator = style.animator();
      if (animator) animator->setDelegate(delegate);
      return animator;
    }
  }
  return nullptr;
}

}  // namespace

std::shared_ptr<Presenter> Presenter::create(Config config, std::shared_ptr<UIView> view,
                                             const std::shared_ptr<PresenterDelegate>& delegate) {
  return std::shared_ptr<Presenter>(new Presenter(std::move(config), std::move(view), delegate));
}

Presenter::Presenter(Config config, std::shared_ptr<UIView> view, const std::shared_ptr<PresenterDelegate>& delegate)
    : config_(std::move(config)), view_(std::move(view)), delegate_(delegate) {
  maskingView_ = TrackedMaskingView::create(inWindow_);
  animator_ = animatorFor(config_.presentationStyle, delegate);
  if (auto* identifiable = dynamic_cast<Identifiable*>(view_.get())) {
    id_ = identifiable->id();
  } else {
    id_ = view_->description();
  }
}

std::shared_ptr<UIViewController> Presenter::contextController() const {
  if (auto* box = std::get_if<Weak<UIViewController>>(&presentationContext_)) return box->value();
  return nullptr;
}

foundation::Result<Presenter::PresentationContext> Presenter::getPresentationContext() {
  const auto& context = config_.presentationContext;
  switch (context.kind()) {
    case MessageBanners::PresentationContext::Kind::Window:
    case MessageBanners::PresentationContext::Kind::WindowScene:
      return PresentationContext(Weak<UIViewController>(WindowViewController::newInstance(config_)));
    case MessageBanners::PresentationContext::Kind::ViewController:
      return PresentationContext(
          Weak<UIViewController>(mb_selectPresentationContextBottomUp(context.controller(), config_)));
    case MessageBanners::PresentationContext::Kind::View:
      return PresentationContext(Weak<UIView>(context.containerView()));
    case MessageBanners::PresentationContext::Kind::Automatic: {
      auto key = mb_keyWindow();
      if (!key || !key->rootViewController()) return foundation::Error(MessageBannersError::noRootViewController());
      return PresentationContext(
          Weak<UIViewController>(mb_selectPresentationContextTopDown(key->rootViewController(), config_)));
    }
  }
  return foundation::Error(MessageBannersError::noRootViewController());
}

void Presenter::install() {
  // Marked installed only once the masking view is in place, so the queue, which reads the flag
  // from its own thread, never takes a message that is being installed for one whose container
  // went away.
  struct MarkInstalled {
    std::atomic<bool>& installed;
    ~MarkInstalled() { installed = true; }
  } markInstalled{installed_};
  std::shared_ptr<UIView> container;
  auto controller = contextController();
  if (auto* box = std::get_if<Weak<UIView>>(&presentationContext_)) {
    container = box->value();
  } else if (controller) {
    container = controller->view();
  }
  if (!container) return;
  if (auto window = std::dynamic_pointer_cast<WindowViewController>(controller)) window->install();

  auto navigation = std::dynamic_pointer_cast<uikit::UINavigationController>(controller);
  auto tabs = std::dynamic_pointer_cast<uikit::UITabBarController>(controller);
  maskingView_->setTranslatesAutoresizingMaskIntoConstraints(false);
  if (navigation) {
    container->insertSubviewBelow(maskingView_, navigation->navigationBar().get());
  } else if (tabs) {
    container->insertSubviewBelow(maskingView_, tabs->tabBar().get());
  } else {
    container->addSubview(maskingView_);
  }
  const MessageEdge edge = messageEdge(config_);
  const bool underNavigationBar =
      edge == MessageEdge::Top && navigation && mb_isVisible(*navigation, *navigation->navigationBar());
  const bool aboveTabBar = edge == MessageEdge::Bottom && tabs && mb_isVisible(*tabs, *tabs->tabBar());
  uikit::NSLayoutConstraint::activateConstraints({
      maskingView_->leadingAnchor().constraintEqualTo(container->leadingAnchor()),
      maskingView_->trailingAnchor().constraintEqualTo(container->trailingAnchor()),
      underNavigationBar ? maskingView_->topAnchor().constraintEqualTo(navigation->navigationBar()->bottomAnchor())
                         : maskingView_->topAnchor().constraintEqualTo(container->topAnchor()),
      aboveTabBar ? maskingView_->bottomAnchor().constraintEqualTo(tabs->tabBar()->topAnchor())
                  : maskingView_->bottomAnchor().constraintEqualTo(container->bottomAnchor()),
  });
  if (config_.keyboardTrackingView) maskingView_->installKeyboardTracking(config_.keyboardTrackingView);
  container->layoutIfNeeded();

  const auto& dim = config_.dimMode;
  if (dim.modal()) {
    if (dim.interactive()) {
      std::weak_ptr<Presenter> weakSelf = weak_from_this();
      maskingView_->tappedHander = [weakSelf] {
        auto self = weakSelf.lock();
        if (!self) return;
        self->interactivelyHidden_ = true;
        if (auto delegate = self->delegate()) delegate->hide(*self);
      };
    } else {
      // The dimmed area swallows touches without doing anything.
      maskingView_->tappedHander = [] {};
    }
  }
  setupAccessibility();
}

void Presenter::setupAccessibility() {
  std::vector<std::shared_ptr<UIView>> elements;
  if (const auto* accessible = dynamic_cast<const AccessibleMessage*>(view_.get())) {
    if (auto message = accessible->accessibilityMessage()) {
      auto element = accessible->accessibilityElement();
      if (!element) element = view_;
      element->isAccessibilityElement = true;
      if (element->accessibilityLabel.empty()) element->accessibilityLabel = *message;
      elements.push_back(element);
      for (auto& more : accessible->additionalAccessibilityElements()) {
        if (more) elements.push_back(std::move(more));
      }
    }
  } else {
    elements.push_back(view_);
  }
  const auto& dim = config_.dimMode;
  if (dim.modal() && dim.interactive()) {
    auto dismiss = UIView::create(maskingView_->bounds());
    dismiss->autoresizingMask = uikit::UIViewAutoresizingFlexibleWidth | uikit::UIViewAutoresizingFlexibleHeight;
    maskingView_->addSubview(dismiss);
    maskingView_->sendSubviewToBack(dismiss.get());
    dismiss->setUserInteractionEnabled(false);
    dismiss->isAccessibilityElement = true;
    dismiss->accessibilityLabel = config_.dimModeAccessibilityLabel;
    dismiss->accessibilityTraits = uikit::UIAccessibilityTraitButton;
    elements.push_back(dismiss);
  }
  maskingView_->accessibilityViewIsModal = dim.modal();
  maskingView_->accessibleElements = std::move(elements);
}

SafeZoneConflicts Presenter::safeZoneConflicts() const {
  if (!maskingView_->window()) return {};
  auto controller = contextController();
  UIWindowLevel level = UIWindowLevelNormal;
  if (auto window = std::dynamic_pointer_cast<WindowViewController>(controller)) {
    const auto& context = window->config().presentationContext;
    if (context.kind() == MessageBanners::PresentationContext::Kind::Window || context.kind() == MessageBanners::PresentationContext::Kind::WindowScene) {
      level = context.windowLevel();
    }
  }
  const auto insets = maskingView_->safeAreaInsets();
  if (UIWindowLevelNormal < level) {
    if (insets.top == 20) return SafeZoneConflicts::statusBarCovered();
    SafeZoneConflicts conflicts;
    if (insets.top > 0) conflicts.formUnion(SafeZoneConflicts::topConflict());
    if (insets.bottom > 0) conflicts.formUnion(SafeZoneConflicts::bottomConflict());
    return conflicts;
  }
  SafeZoneConflicts conflicts;
  auto navigation = std::dynamic_pointer_cast<uikit::UINavigationController>(controller);
  auto tabs = std::dynamic_pointer_cast<uikit::UITabBarController>(controller);
  if (!(navigation && mb_isVisible(*navigation, *navigation->navigationBar()))) {
    conflicts.formUnion(SafeZoneConflicts::topConflict());
  }
  if (!(tabs && mb_isVisible(*tabs, *tabs->tabBar()))) conflicts.formUnion(SafeZoneConflicts::bottomConflict());
  return conflicts;
}

void Presenter::send(Event::Kind kind) {
  const Event event{kind, view_};
  for (const auto& listener : config_.eventListeners) {
    if (listener) listener(event);
  }
}

foundation::Result<void> Presenter::show(std::function<void(bool)> completion) {
  auto context = getPresentationContext();
  if (!context) return context.error();
  presentationContext_ = context.value();
  install();
  send(Event::Kind::WillShow);
  std::weak_ptr<Presenter> weakSelf = weak_from_this();
  showAnimation([weakSelf, completion = std::move(completion)](bool completed) {
    if (completion) completion(completed);
    auto self = weakSelf.lock();
    if (!self || !completed) return;
    if (self->config_.dimMode.modal()) {
      self->showAccessibilityFocus();
    } else {
      self->announceAccessibility();
    }
    self->send(Event::Kind::DidShow);
  });
  return {};
}

void Presenter::showAnimation(std::function<void(bool)> completion) {
  animator_->show(AnimationContext(view_, maskingView_, safeZoneConflicts(), config_.interactiveHide),
                  std::move(completion));
  const auto& dim = config_.dimMode;
  auto masking = maskingView_;
  switch (dim.kind()) {
    case DimMode::Kind::Gray:
    case DimMode::Kind::Color: {
      const auto color = dim.kind() == DimMode::Kind::Gray ? uikit::UIColor::white(0, 0.3) : dim.color().value();
      masking->setBackgroundColor(uikit::UIColor::clearColor());
      UIView::animate(0.2, [masking, color] { masking->setBackgroundColor(color); });
      break;
    }
    case DimMode::Kind::Blur: {
      auto blur = std::make_shared<uikit::UIVisualEffectView>();
      blur->setAlpha(dim.alpha());
      if (auto previous = masking->backgroundView()) previous->removeFromSuperview();
      masking->setBackgroundView(blur);
      blur->setUserInteractionEnabled(false);
      blur->setFrame(masking->bounds());
      blur->autoresizingMask = uikit::UIViewAutoresizingFlexibleWidth | uikit::UIViewAutoresizingFlexibleHeight;
      masking->addSubview(blur);
      masking->sendSubviewToBack(blur.get());
      const auto style = static_cast<uikit::UIBlurEffectStyle>(dim.blurStyle());
      UIView::animate(0.3, [blur, style] { blur->effect = style; });
      break;
    }
    case DimMode::Kind::None:
      break;
  }
}

// The message views that speak for themselves to assistive technologies bring their own texts;
// a plain view has nothing to announce and no element to focus.
void Presenter::announceAccessibility() {
  const auto* accessible = dynamic_cast<const AccessibleMessage*>(view_.get());
  if (!accessible) return;
  if (auto message = accessible->accessibilityMessage()) {
    uikit::UIAccessibility::post(uikit::UIAccessibilityNotification::Announcement, *message);
  }
}

void Presenter::showAccessibilityFocus() {
  const auto* accessible = dynamic_cast<const AccessibleMessage*>(view_.get());
  if (!accessible) return;
  auto target = accessible->accessibilityElement();
  if (!target) {
    auto more = accessible->additionalAccessibilityElements();
    if (!more.empty()) target = more.front();
  }
  if (!target) return;
  uikit::UIAccessibility::post(uikit::UIAccessibilityNotification::LayoutChanged, target->description());
}

void Presenter::uninstall() {
  if (auto window = std::dynamic_pointer_cast<WindowViewController>(contextController())) window->uninstall();
  maskingView_->removeFromSuperview();
}

void Presenter::hide(bool animated, std::function<void(bool)> completion) {
  if (isHiding_.exchange(true)) return;
  send(Event::Kind::WillHide);
  AnimationContext context(view_, maskingView_, safeZoneConflicts(), config_.interactiveHide);
  auto finish = [self = shared_from_this(), completion = std::move(completion)](bool) {
    self->uninstall();
    if (completion) completion(true);
    self->send(Event::Kind::DidHide);
  };
  if (!animated) return finish(true);
  animator_->hide(context, std::move(finish));
  auto masking = maskingView_;
  switch (config_.dimMode.kind()) {
    case DimMode::Kind::Gray:
    case DimMode::Kind::Color:
      UIView::animate(0.2, 0, uikit::UIViewAnimationOptionBeginFromCurrentState,
                      [masking] { masking->setBackgroundColor(uikit::UIColor::clearColor()); });
      break;
    case DimMode::Kind::Blur:
      if (auto blur = std::dynamic_pointer_cast<uikit::UIVisualEffectView>(masking->backgroundView())) {
        UIView::animate(0.2, 0, uikit::UIViewAnimationOptionBeginFromCurrentState, [blur] { blur->effect.reset(); });
      }
      break;
    case DimMode::Kind::None:
      break;
  }
}

}  // namespace MessageBanners
