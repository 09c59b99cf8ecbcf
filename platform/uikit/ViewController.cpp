#include "platform/uikit/ViewController.h"

#include <algorithm>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/uikit/Controls.h"
#include "platform/uikit/Log.h"
#include "platform/uikit/Window.h"

RUNTIME_CLASS(uikit::UIViewController, runtime::Object, "UIViewController");
RUNTIME_CLASS(uikit::UINavigationController, uikit::UIViewController, "UINavigationController");
RUNTIME_CLASS(uikit::UITabBarController, uikit::UIViewController, "UITabBarController");
RUNTIME_CLASS(uikit::UIBarButtonItem, runtime::Object, "UIBarButtonItem");

namespace uikit {

namespace {

// The selectors of the callbacks the toolkit sends through the method table.
struct LifecycleSelectors {
  runtime::SEL loadView = runtime::sel_registerName("loadView");
  runtime::SEL viewDidLoad = runtime::sel_registerName("viewDidLoad");
  runtime::SEL viewWillAppear = runtime::sel_registerName("viewWillAppear:");
  runtime::SEL viewDidAppear = runtime::sel_registerName("viewDidAppear:");
  runtime::SEL viewWillDisappear = runtime::sel_registerName("viewWillDisappear:");
  runtime::SEL viewDidDisappear = runtime::sel_registerName("viewDidDisappear:");
  runtime::SEL viewWillLayoutSubviews = runtime::sel_registerName("viewWillLayoutSubviews");
  runtime::SEL viewDidLayoutSubviews = runtime::sel_registerName("viewDidLayoutSubviews");
};

const LifecycleSelectors& selectors() {
  static const LifecycleSelectors shared;
  return shared;
}

template <void (UIViewController::*Callback)()>
runtime::IMP callbackImp() {
  return runtime::imp_implementationWithBlock<void()>(
      [](runtime::Object* self) { (static_cast<UIViewController*>(self)->*Callback)(); });
}

template <void (UIViewController::*Callback)(bool)>
runtime::IMP animatedCallbackImp() {
  return runtime::imp_implementationWithBlock<void(bool)>(
      [](runtime::Object* self, bool animated) { (static_cast<UIViewController*>(self)->*Callback)(animated); });
}

// The toolkit's implementations: each calls the controller's C++ virtual function.
[[maybe_unused]] const bool kLifecycleMethodsAdded = [] {
  runtime::Class cls = runtime::classOf<UIViewController>();
  const LifecycleSelectors& s = selectors();
  runtime::class_addMethod(cls, s.loadView, callbackImp<&UIViewController::loadView>());
  runtime::class_addMethod(cls, s.viewDidLoad, callbackImp<&UIViewController::viewDidLoad>());
  runtime::class_addMethod(cls, s.viewWillAppear, animatedCallbackImp<&UIViewController::viewWillAppear>());
  runtime::class_addMethod(cls, s.viewDidAppear, animatedCallbackImp<&UIViewController::viewDidAppear>());
  runtime::class_addMethod(cls, s.viewWillDisappear, animatedCallbackImp<&UIViewController::viewWillDisappear>());
  runtime::class_addMethod(cls, s.viewDidDisappear, animatedCallbackImp<&UIViewController::viewDidDisappear>());
  runtime::class_addMethod(cls, s.viewWillLayoutSubviews, callbackImp<&UIViewController::viewWillLayoutSubviews>());
  runtime::class_addMethod(cls, s.viewDidLayoutSubviews, callbackImp<&UIViewController::viewDidLayoutSubviews>());
  return true;
}();

constexpr double kDefaultTransitionDuration = 0.3;
constexpr CGFloat kNavigationBarHeight = 44;

UIViewController* rootAncestor(UIViewController* c) {
  while (auto parent = c->parentViewController()) c = parent.get();
  return c;
}

/// A view that tells its controller when it lays out, so bars follow size and safe-area changes.
class ContainerView : public UIView {
 public:
  std::function<void()> onLayout;
  void layoutSubviews() override {
    UIView::layoutSubviews();
    if (onLayout) onLayout();
  }
  void safeAreaInsetsDidChange() override { setNeedsLayout(); }
};

}  // namespace

// One presentation or dismissal under way: the context an animator works with. It keeps both
// controllers until the transition ends; only the first completeTransition counts.
class PresentationTransition : public UIViewControllerContextTransitioning {
 public:
  PresentationTransition(std::shared_ptr<UIViewController> host, std::shared_ptr<UIViewController> presented,
                         std::shared_ptr<UIWindow> window, bool presenting, bool animated, bool hidesHost,
                         std::function<void()> completion)
      : host_(std::move(host)), presented_(std::move(presented)), window_(std::move(window)),
        presenting_(presenting), animated_(animated), hidesHost_(hidesHost), completion_(std::move(completion)) {}

  UIView& containerView() override { return *window_; }
  std::shared_ptr<UIViewController> viewControllerForKey(const std::string& key) const override {
    bool from = key == UITransitionContextFromViewControllerKey;
    return (from == presenting_) ? host_ : presented_;
  }
  std::shared_ptr<UIView> viewForKey(const std::string& key) const override {
    auto c = viewControllerForKey(key);
    return c ? c->view() : nullptr;  // null once the transition is over
  }
  CGRect finalFrameForViewController(const UIViewController& controller) const override {
    if (!presented_) return {};
    return &controller == presented_.get() && !presenting_ ? CGRect{} : frameFor(*presented_);
  }
  bool isAnimated() const override { return animated_; }
  bool transitionWasCancelled() const override { return cancelled_; }

  CGRect frameFor(const UIViewController& controller) const {
    CGRect b = window_->bounds();
    auto style = controller.effectivePresentationStyle();
    if (style == UIModalPresentationStyle::PageSheet || style == UIModalPresentationStyle::FormSheet) {
      CGFloat top = window_->safeAreaInsets().top + 10;
      return {b.origin.x, b.origin.y + top, b.size.width, b.size.height - top};
    }
    return b;
  }

  void completeTransition(bool didComplete) override {
    if (done_) return;
    done_ = true;
    cancelled_ = !didComplete;
    auto keep = shared();
    auto host = host_;
    auto presented = presented_;
    host->transition_.reset();
    finish(didComplete);
    // An animator may still hold this context and call it again: it stays alive with the host
    // until the next transition, without holding the controllers or the window any more.
    host_.reset();
    presented_.reset();
    window_ = UIView::create();
    completion_ = nullptr;
    host->finishedTransition_ = keep;
  }

  void finish(bool didComplete) {
    if (presenting_) {
      if (didComplete) {
        presented_->endAppearanceTransition();
        if (hidesHost_) host_->endAppearanceTransition();
        if (completion_) completion_();
      } else {
        // Rolled back: the presented controller leaves, the host stays as it was.
        presented_->view()->removeFromSuperview();
        presented_->beginAppearanceTransition(false, animated_);
        presented_->endAppearanceTransition();
        if (hidesHost_) {
          host_->beginAppearanceTransition(true, animated_);
          host_->endAppearanceTransition();
        }
        host_->presented_.reset();
        presented_->presenting_.reset();
      }
    } else {
      if (didComplete) {
        presented_->view()->removeFromSuperview();
        presented_->endAppearanceTransition();
        if (hidesHost_) host_->endAppearanceTransition();
        host_->presented_.reset();
        presented_->presenting_.reset();
        if (completion_) completion_();
      } else {
        presented_->beginAppearanceTransition(true, animated_);
        presented_->endAppearanceTransition();
        if (hidesHost_) {
          host_->beginAppearanceTransition(false, animated_);
          host_->endAppearanceTransition();
        }
      }
    }
  }

  std::weak_ptr<PresentationTransition> self;
  std::shared_ptr<PresentationTransition> shared() const { return self.lock(); }

 private:
  std::shared_ptr<UIViewController> host_;
  std::shared_ptr<UIViewController> presented_;
  std::shared_ptr<UIView> window_;
  bool presenting_;
  bool animated_;
  bool hidesHost_;
  std::function<void()> completion_;
  bool done_ = false;
  bool cancelled_ = false;
};

// The view and its callbacks.

UIViewController::~UIViewController() {
  if (view_ && view_->viewController_ == this) view_->viewController_ = nullptr;
}

const std::shared_ptr<UIView>& UIViewController::view() {
  if (!view_) {
    runtime::msgSend<void()>(this, selectors().loadView);
    if (!view_) view_ = UIView::create(UIScreen::main().bounds());
    view_->viewController_ = this;
    runtime::msgSend<void()>(this, selectors().viewDidLoad);
  }
  return view_;
}

void UIViewController::setView(std::shared_ptr<UIView> view) {
  if (view_ && view_->viewController_ == this) view_->viewController_ = nullptr;
  view_ = std::move(view);
  if (view_) view_->viewController_ = this;
  archivedView_.reset();
}

void UIViewController::sendLayoutCallback(UIViewController& controller, bool did) {
  runtime::msgSend<void()>(&controller, did ? selectors().viewDidLayoutSubviews : selectors().viewWillLayoutSubviews);
}

void UIBarButtonItem::tap() {
  if (!enabled || !action) return;
  auto self = shared_from_this();
  auto strongTarget = target.lock();
  UIApplication::shared().sendAction(runtime::sel_registerName(selector), strongTarget.get(), this, nullptr,
                                     [&] { action(*this); });
}

void UIViewController::loadView() {
  view_ = archivedView_ ? std::move(archivedView_) : UIView::create(UIScreen::main().bounds());
  archivedView_.reset();
}

void UIViewController::beginAppearanceTransition(bool appearing, bool animated) {
  if (appearing) {
    if (appearance_ == Appearance::Appeared || appearance_ == Appearance::Appearing) return;
    appearance_ = Appearance::Appearing;
    transitionAnimated_ = animated;
    runtime::msgSend<void(bool)>(this, selectors().viewWillAppear, animated);
  } else {
    if (appearance_ == Appearance::Disappeared || appearance_ == Appearance::Disappearing) return;
    appearance_ = Appearance::Disappearing;
    transitionAnimated_ = animated;
    runtime::msgSend<void(bool)>(this, selectors().viewWillDisappear, animated);
  }
  auto children = children_;
  for (auto& child : children)
    if (child->isViewLoaded() && view_ && child->view()->isDescendantOfView(view_.get()))
      child->beginAppearanceTransition(appearing, animated);
}

void UIViewController::endAppearanceTransition() {
  if (appearance_ == Appearance::Appearing) {
    appearance_ = Appearance::Appeared;
    runtime::msgSend<void(bool)>(this, selectors().viewDidAppear, transitionAnimated_);
  } else if (appearance_ == Appearance::Disappearing) {
    appearance_ = Appearance::Disappeared;
    runtime::msgSend<void(bool)>(this, selectors().viewDidDisappear, transitionAnimated_);
  } else {
    return;
  }
  auto children = children_;
  for (auto& child : children)
    if (child->appearance_ == Appearance::Appearing || child->appearance_ == Appearance::Disappearing)
      child->endAppearanceTransition();
}

// Containment.

void UIViewController::addChildViewController(const std::shared_ptr<UIViewController>& child) {
  if (!child || child.get() == this) return;
  if (auto old = child->parentViewController()) {
    if (old.get() == this) return;
    child->removeFromParentViewController();
  }
  child->willMoveToParentViewController(this);
  children_.push_back(child);
  child->parent_ = weak_from_this();
}

void UIViewController::viewWillTransitionToSize(CGSize size, UIViewControllerTransitionCoordinator* coordinator) {
  auto children = children_;
  for (auto& child : children) child->viewWillTransitionToSize(size, coordinator);
}

void UIViewController::willTransitionToTraitCollection(const UITraitCollection& traits,
                                                       UIViewControllerTransitionCoordinator* coordinator) {
  auto children = children_;
  for (auto& child : children) child->willTransitionToTraitCollection(traits, coordinator);
}

void UIViewController::removeFromParentViewController() {
  auto parent = parentViewController();
  if (!parent) return;
  auto keep = shared_from_this();
  auto& list = parent->children_;
  list.erase(std::remove(list.begin(), list.end(), keep), list.end());
  parent_.reset();
  didMoveToParentViewController(nullptr);
}

UINavigationController* UIViewController::navigationController() const {
  for (auto p = parentViewController(); p; p = p->parentViewController())
    if (auto* nav = dynamic_cast<UINavigationController*>(p.get())) return nav;
  return nullptr;
}

UITabBarController* UIViewController::tabBarController() const {
  for (auto p = parentViewController(); p; p = p->parentViewController())
    if (auto* tabs = dynamic_cast<UITabBarController*>(p.get())) return tabs;
  return nullptr;
}

void UIViewController::setNeedsStatusBarAppearanceUpdate() { UIApplication::shared().statusBarUpdateRequests++; }

// Presentation.

UIModalPresentationStyle UIViewController::effectivePresentationStyle() const {
  if (modalPresentationStyle != UIModalPresentationStyle::Automatic) return modalPresentationStyle;
  return UIDevice::current().isAtLeast(13) ? UIModalPresentationStyle::PageSheet : UIModalPresentationStyle::FullScreen;
}

namespace {
bool hidesPresenter(UIModalPresentationStyle style) {
  return style == UIModalPresentationStyle::FullScreen || style == UIModalPresentationStyle::CurrentContext;
}
}  // namespace

void UIViewController::presentViewController(const std::shared_ptr<UIViewController>& controller, bool animated,
                                             std::function<void()> completion) {
  auto host = rootAncestor(this)->shared_from_this();
  if (!controller) return;
  if (host->presented_ || host->transition_) {
    UIKitLog::write("Attempt to present " + controller->className() + " on " + host->className() +
                    " which is already presenting");
    return;
  }
  if (controller->presentingViewController() || controller->parentViewController()) {
    UIKitLog::write("Attempt to present " + controller->className() + " which is already shown elsewhere");
    return;
  }
  std::shared_ptr<UIWindow> window;
  if (host->isViewLoaded())
    if (auto* w = host->view()->window())
      window = std::static_pointer_cast<UIWindow>(w->shared_from_this());
  if (!window) {
    UIKitLog::write("Attempt to present " + controller->className() + " on " + host->className() +
                    " whose view is not in the window hierarchy");
    return;
  }
  host->presented_ = controller;
  controller->presenting_ = host;
  bool hides = hidesPresenter(controller->effectivePresentationStyle());
  auto transition = std::make_shared<PresentationTransition>(host, controller, window, true, animated, hides,
                                                             std::move(completion));
  transition->self = transition;
  host->transition_ = transition;

  const auto& view = controller->view();
  view->setFrame(transition->frameFor(*controller));
  if (hides) host->beginAppearanceTransition(false, animated);
  controller->beginAppearanceTransition(true, animated);
  window->addSubview(view);

  std::shared_ptr<UIViewControllerAnimatedTransitioning> animator;
  if (auto delegate = controller->transitioningDelegate.lock())
    animator = delegate->animationControllerForPresentedController(*controller, *host, *this);
  if (animator) {
    animator->animateTransition(*transition);
    return;
  }
  dispatch::DispatchQueue::main()->asyncAfter(animated ? kDefaultTransitionDuration : 0.0,
                                              [transition] { transition->completeTransition(true); });
}

void UIViewController::dismissViewControllerAnimated(bool animated, std::function<void()> completion) {
  auto self = shared_from_this();
  std::shared_ptr<UIViewController> host, target;
  auto root = rootAncestor(this)->shared_from_this();
  if (root->presented_) {
    host = root;
    target = root->presented_;
  } else if (auto presenting = root->presentingViewController()) {
    host = presenting;
    target = root;
  } else {
    return;
  }
  if (host->transition_) {
    UIKitLog::write("Attempt to dismiss " + target->className() + " while a transition is in progress");
    return;
  }
  // Controllers presented above the one dismissed go with it, without callbacks of their own
  // beyond disappearing.
  for (auto above = target->presented_; above;) {
    auto next = above->presented_;
    above->beginAppearanceTransition(false, false);
    above->endAppearanceTransition();
    if (above->isViewLoaded()) above->view()->removeFromSuperview();
    above->presenting_.reset();
    if (auto p = above->presentingViewController()) p->presented_.reset();
    above = next;
  }
  target->presented_.reset();

  std::shared_ptr<UIWindow> window;
  if (target->isViewLoaded())
    if (auto* w = target->view()->window()) window = std::static_pointer_cast<UIWindow>(w->shared_from_this());
  if (!window && host->isViewLoaded())
    if (auto* w = host->view()->window()) window = std::static_pointer_cast<UIWindow>(w->shared_from_this());
  if (!window) window = UIWindow::create(UIScreen::main().bounds());
  bool hides = hidesPresenter(target->effectivePresentationStyle());
  auto transition = std::make_shared<PresentationTransition>(host, target, window, false, animated, hides,
                                                             std::move(completion));
  transition->self = transition;
  host->transition_ = transition;
  target->beginAppearanceTransition(false, animated);
  if (hides) host->beginAppearanceTransition(true, animated);

  std::shared_ptr<UIViewControllerAnimatedTransitioning> animator;
  if (auto delegate = target->transitioningDelegate.lock())
    animator = delegate->animationControllerForDismissedController(*target);
  if (animator) {
    animator->animateTransition(*transition);
    return;
  }
  dispatch::DispatchQueue::main()->asyncAfter(animated ? kDefaultTransitionDuration : 0.0,
                                              [transition] { transition->completeTransition(true); });
}

// Navigation.

UINavigationController::UINavigationController() = default;

std::shared_ptr<UINavigationController> UINavigationController::create(std::shared_ptr<UIViewController> root) {
  auto nav = std::make_shared<UINavigationController>();
  if (root) nav->setViewControllers({root}, false);
  return nav;
}

const std::shared_ptr<UINavigationBar>& UINavigationController::navigationBar() {
  if (!bar_) bar_ = std::make_shared<UINavigationBar>();
  if (bar_->controller_.expired()) bar_->controller_ = weak_from_this();
  return bar_;
}

bool UINavigationController::isNavigationBarHidden() const { return bar_ && bar_->isHidden(); }

void UINavigationController::setNavigationBarHidden(bool hidden, bool /*animated*/) {
  navigationBar()->setHidden(hidden);
  layoutBar();
}

void UINavigationController::viewDidLoad() {
  auto container = std::make_shared<ContainerView>();
  container->setFrame(UIScreen::main().bounds());
  std::weak_ptr<UIViewController> weak = weak_from_this();
  container->onLayout = [weak] {
    if (auto self = weak.lock()) static_cast<UINavigationController*>(self.get())->layoutBar();
  };
  setView(container);
  container->addSubview(navigationBar());
  if (auto top = topViewController()) {
    container->insertSubviewBelow(top->view(), bar_.get());
    top->view()->setFrame(contentFrame());
  }
  layoutBar();
}

// The bar is opaque: the top controller's view starts below it, or at the top when it is hidden.
CGRect UINavigationController::contentFrame() {
  auto& v = view();
  CGRect bounds = v->bounds();
  if (navigationBar()->isHidden()) return bounds;
  const CGFloat barBottom = std::min(bounds.size.height, v->safeAreaInsets().top + kNavigationBarHeight);
  return {bounds.origin.x, bounds.origin.y + barBottom, bounds.size.width, bounds.size.height - barBottom};
}

void UINavigationController::layoutBar() {
  if (!isViewLoaded()) return;
  auto& v = view();
  CGFloat top = v->safeAreaInsets().top;
  navigationBar()->setFrame({0, top, v->bounds().size.width, kNavigationBarHeight});
  if (auto t = topViewController(); t && t->isViewLoaded() && t->view()->superviewPointer() == v.get())
    t->view()->setFrame(contentFrame());
  bar_->items.clear();
  for (auto& c : stack_) bar_->items.push_back(&c->navigationItem);
  bar_->updateItems();
}

UIViewController* UINavigationController::childViewControllerForStatusBarStyle() const { return nullptr; }

void UINavigationController::transition(const std::shared_ptr<UIViewController>& from,
                                        const std::shared_ptr<UIViewController>& to, bool animated) {
  if (!isViewLoaded()) return;
  auto& container = view();
  bool showing = isAppeared();
  if (to) to->view();  // loads it before any callback, as the platform does
  if (showing && from) from->beginAppearanceTransition(false, animated);
  if (to) {
    if (showing) to->beginAppearanceTransition(true, animated);
    to->view()->setFrame(contentFrame());
    container->insertSubviewBelow(to->view(), navigationBar().get());
  }
  layoutBar();
  auto finish = [from, to, container, showing] {
    if (from && from != to && from->isViewLoaded() && from->view()->superviewPointer() == container.get())
      from->view()->removeFromSuperview();
    if (showing && from) from->endAppearanceTransition();
    if (showing && to) to->endAppearanceTransition();
  };
  if (animated && showing)
    dispatch::DispatchQueue::main()->asyncAfter(kDefaultTransitionDuration, finish);
  else
    finish();
}

void UINavigationController::setViewControllers(std::vector<std::shared_ptr<UIViewController>> controllers,
                                                bool animated) {
  auto oldTop = topViewController();
  for (auto& c : stack_)
    if (std::find(controllers.begin(), controllers.end(), c) == controllers.end()) c->removeFromParentViewController();
  stack_ = std::move(controllers);
  for (auto& c : stack_) {
    if (c->parentViewController().get() != this) addChildViewController(c);
    c->didMoveToParentViewController(this);
  }
  if (oldTop != topViewController()) transition(oldTop, topViewController(), animated);
}

void UINavigationController::pushViewController(const std::shared_ptr<UIViewController>& controller, bool animated) {
  if (!controller || std::find(stack_.begin(), stack_.end(), controller) != stack_.end()) return;
  auto from = topViewController();
  addChildViewController(controller);
  stack_.push_back(controller);
  controller->didMoveToParentViewController(this);
  transition(from, controller, animated);
}

std::shared_ptr<UIViewController> UINavigationController::popViewControllerAnimated(bool animated) {
  if (stack_.size() <= 1) return nullptr;
  auto top = stack_.back();
  stack_.pop_back();
  transition(top, topViewController(), animated);
  top->willMoveToParentViewController(nullptr);
  top->removeFromParentViewController();
  return top;
}

std::vector<std::shared_ptr<UIViewController>> UINavigationController::popToRootViewControllerAnimated(bool animated) {
  std::vector<std::shared_ptr<UIViewController>> popped;
  if (stack_.size() <= 1) return popped;
  auto top = stack_.back();
  popped.assign(stack_.begin() + 1, stack_.end());
  stack_.resize(1);
  transition(top, topViewController(), animated);
  for (auto& c : popped) {
    c->willMoveToParentViewController(nullptr);
    c->removeFromParentViewController();
  }
  return popped;
}

// The navigation bar's views.

namespace {
constexpr CGFloat kBarMargin = 8, kBarButtonGap = 8, kBarButtonPadding = 6;
}

const std::shared_ptr<UILabel>& UINavigationBar::titleLabel() {
  if (!titleLabel_) {
    titleLabel_ = std::make_shared<UILabel>();
    titleLabel_->setUserInteractionEnabled(false);
    titleLabel_->setFont(UIFont::boldSystemFont(17));
    titleLabel_->textAlignment = NSTextAlignment::Center;
    addSubview(titleLabel_);
  }
  return titleLabel_;
}

std::shared_ptr<UIButton> UINavigationBar::buttonForItem(const UIBarButtonItem& item) const {
  for (std::size_t i = 0; i < shown_.size(); ++i)
    if (shown_[i].item.get() == &item) return buttons_[i];
  return nullptr;
}

std::shared_ptr<UIButton> UINavigationBar::makeButton(const Shown& shown) {
  auto button = UIButton::create();
  button->setTitle(shown.title, UIControlStateNormal);
  button->setTitleColor(UIColor::lightGrayColor(), UIControlStateDisabled);
  if (shown.image) button->setImage(shown.image, UIControlStateNormal);
  auto self = std::static_pointer_cast<UINavigationBar>(shared_from_this());
  if (shown.item) {
    std::weak_ptr<UIBarButtonItem> weak = shown.item;
    button->accessibilityLabel = shown.item->accessibilityLabel.empty() ? shown.title : shown.item->accessibilityLabel;
    button->addTarget<UINavigationBar>(self, "itemTapped:", UIControlEventTouchUpInside,
                                       [weak](UINavigationBar&, UIControl&) {
                                         if (auto item = weak.lock()) item->tap();
                                       });
  } else {
    button->accessibilityLabel = "Back";
    button->addTarget<UINavigationBar>(self, "backTapped:", UIControlEventTouchUpInside,
                                       [](UINavigationBar& bar, UIControl&) {
                                         auto owner = bar.controller_.lock();
                                         if (auto* nav = dynamic_cast<UINavigationController*>(owner.get()))
                                           nav->popViewControllerAnimated(true);
                                       });
  }
  addSubview(button);
  return button;
}

void UINavigationBar::updateItems() {
  auto owner = controller_.lock();
  auto* nav = dynamic_cast<UINavigationController*>(owner.get());
  const auto* stack = nav ? &nav->viewControllers() : nullptr;
  const UIViewController* top = stack && !stack->empty() ? stack->back().get() : nullptr;
  // A controller's item shows the controller's title when it has none of its own.
  auto titleOf = [](const UIViewController& c) { return c.navigationItem.title.empty() ? c.title : c.navigationItem.title; };

  std::vector<Shown> wanted;
  if (top) {
    const UINavigationItem& item = top->navigationItem;
    auto add = [&](const std::vector<std::shared_ptr<UIBarButtonItem>>& list, bool left) {
      for (auto& i : list)
        if (i) wanted.push_back({i, i->title, i->image, left});
    };
    if (!item.leftBarButtonItems.empty()) {
      add(item.leftBarButtonItems, true);
    } else if (stack->size() > 1 && !item.hidesBackButton) {
      std::string previous = titleOf(*(*stack)[stack->size() - 2]);
      wanted.push_back({nullptr, "\u2039 " + (previous.empty() ? std::string("Back") : previous), nullptr, true});
    }
    add(item.rightBarButtonItems, false);
  }
  if (wanted != shown_) {
    for (auto& b : buttons_) b->removeFromSuperview();
    buttons_.clear();
    back_.reset();
    shown_ = std::move(wanted);
    for (auto& s : shown_) {
      buttons_.push_back(makeButton(s));
      if (!s.item) back_ = buttons_.back();
    }
  }
  for (std::size_t i = 0; i < shown_.size(); ++i) {
    bool enabled = !shown_[i].item || shown_[i].item->enabled;
    if (buttons_[i]->isEnabled() != enabled) buttons_[i]->setEnabled(enabled);
  }

  std::string title = top ? titleOf(*top) : std::string();
  if (!title.empty() || titleLabel_) {
    auto& label = titleLabel();
    if (label->text() != title) label->setText(title);
    label->textColor = UIColor::labelColor();
    if (standardAppearance) {
      auto& attributes = standardAppearance->titleTextAttributes;
      if (auto it = attributes.find(NSForegroundColorAttributeName); it != attributes.end())
        if (auto* color = std::any_cast<UIColor>(&it->second)) label->textColor = *color;
      if (auto it = attributes.find(NSFontAttributeName); it != attributes.end())
        if (auto* font = std::any_cast<UIFont>(&it->second); font && !(*font == label->font())) label->setFont(*font);
    }
  }
  // The bar is opaque: without a colour of its own it takes the system's plain background.
  std::optional<UIColor> color = barTintColor ? barTintColor
                                 : standardAppearance ? standardAppearance->backgroundColor
                                                      : std::nullopt;
  if (!color) color = UIColor::secondarySystemGroupedBackgroundColor();
  if (!backgroundColor() || !(*backgroundColor() == *color)) setBackgroundColor(*color);
  placeItems();
}

void UINavigationBar::placeItems() {
  CGRect b = bounds();
  CGFloat left = kBarMargin, right = b.size.width - kBarMargin;
  for (std::size_t i = 0; i < shown_.size(); ++i) {
    auto& button = buttons_[i];
    CGSize size = button->intrinsicContentSize();
    CGFloat width = std::max<CGFloat>(0, size.width) + 2 * kBarButtonPadding;
    if (shown_[i].left) {
      button->setFrame({left, 0, width, b.size.height});
      left += width + kBarButtonGap;
    } else {
      right -= width;
      button->setFrame({right, 0, width, b.size.height});
      right -= kBarButtonGap;
    }
  }
  if (titleLabel_) {
    // The title is centred on the bar, kept clear of the buttons on both sides.
    CGFloat inset = std::max(left, b.size.width - right);
    titleLabel_->setFrame({inset, 0, std::max<CGFloat>(0, b.size.width - 2 * inset), b.size.height});
  }
}

void UINavigationBar::layoutSubviews() {
  UIView::layoutSubviews();
  updateItems();
}

std::shared_ptr<UIView> UINavigationBar::hitTest(CGPoint point) {
  updateItems();
  return UIView::hitTest(point);
}

// Tabs.

std::shared_ptr<UITabBarController> UITabBarController::create() { return std::make_shared<UITabBarController>(); }

const std::shared_ptr<UITabBar>& UITabBarController::tabBar() {
  if (!bar_) bar_ = std::make_shared<UITabBar>();
  return bar_;
}

void UITabBarController::viewDidLoad() {
  auto container = std::make_shared<ContainerView>();
  container->setFrame(UIScreen::main().bounds());
  std::weak_ptr<UIViewController> weak = weak_from_this();
  container->onLayout = [weak] {
    if (auto self = weak.lock()) static_cast<UITabBarController*>(self.get())->layoutBar();
  };
  setView(container);
  container->addSubview(tabBar());
  if (auto selected = selectedViewController()) container->insertSubviewBelow(selected->view(), bar_.get());
  layoutBar();
}

void UITabBarController::layoutBar() {
  if (!isViewLoaded()) return;
  auto& v = view();
  CGSize size = v->bounds().size;
  CGFloat bottom = v->safeAreaInsets().bottom;
  tabBar()->setFrame({0, size.height - 49 - bottom, size.width, 49 + bottom});
  if (auto s = selectedViewController(); s && s->isViewLoaded()) s->view()->setFrame(v->bounds());
}

std::shared_ptr<UIViewController> UITabBarController::selectedViewController() const {
  return selected_ < tabs_.size() ? tabs_[selected_] : nullptr;
}

void UITabBarController::setViewControllers(std::vector<std::shared_ptr<UIViewController>> controllers) {
  auto old = selectedViewController();
  for (auto& c : tabs_) c->removeFromParentViewController();
  tabs_ = std::move(controllers);
  for (auto& c : tabs_) {
    addChildViewController(c);
    c->didMoveToParentViewController(this);
  }
  selected_ = 0;
  auto now = selectedViewController();
  if (!isViewLoaded() || old == now) return;
  bool showing = isAppeared();
  if (old && old->isViewLoaded()) {
    if (showing) old->beginAppearanceTransition(false, false);
    old->view()->removeFromSuperview();
    if (showing) old->endAppearanceTransition();
  }
  if (now) {
    if (showing) now->beginAppearanceTransition(true, false);
    view()->insertSubviewBelow(now->view(), tabBar().get());
    if (showing) now->endAppearanceTransition();
  }
  layoutBar();
}

void UITabBarController::setSelectedIndex(std::size_t index) {
  if (index >= tabs_.size() || index == selected_) return;
  auto old = selectedViewController();
  selected_ = index;
  auto now = selectedViewController();
  if (!isViewLoaded()) return;
  now->view();
  bool showing = isAppeared();
  if (showing && old) old->beginAppearanceTransition(false, false);
  if (showing) now->beginAppearanceTransition(true, false);
  if (old && old->isViewLoaded()) old->view()->removeFromSuperview();
  view()->insertSubviewBelow(now->view(), tabBar().get());
  layoutBar();
  if (showing && old) old->endAppearanceTransition();
  if (showing) now->endAppearanceTransition();
}

// Segues.

void UIStoryboardSegue::perform() {
  if (!source_ || !destination_) return;
  if (kind_ != "present") {
    if (auto* nav = source_->navigationController()) {
      nav->pushViewController(destination_, true);
      return;
    }
    if (auto* nav = dynamic_cast<UINavigationController*>(source_.get())) {
      nav->pushViewController(destination_, true);
      return;
    }
  }
  source_->presentViewController(destination_, true);
}

}  // namespace uikit
