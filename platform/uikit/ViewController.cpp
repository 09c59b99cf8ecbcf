#include "platform/uikit/ViewController.h"

#include <algorithm>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/uikit/Log.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/Window.h"
#include "platform/uikit/detail/ContainerView.h"

RUNTIME_CLASS(uikit::UIViewController, runtime::Object, "UIViewController");
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

UIViewController* rootAncestor(UIViewController* c) {
  while (auto parent = c->parentViewController()) c = parent.get();
  return c;
}

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
        presented_->beingPresented_ = false;
        if (hidesHost_) host_->endAppearanceTransition();
        if (completion_) completion_();
      } else {
        // Rolled back: the presented controller leaves, the host stays as it was.
        presented_->beingPresented_ = false;
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
  controller->beingPresented_ = true;
  controller->beginAppearanceTransition(true, animated);
  window->addSubview(view);

  std::shared_ptr<UIViewControllerAnimatedTransitioning> animator;
  if (auto delegate = controller->transitioningDelegate.lock())
    animator = delegate->animationControllerForPresentedController(*controller, *host, *this);
  if (animator) {
    animator->animateTransition(*transition);
    return;
  }
  dispatch::DispatchQueue::main()->asyncAfter(animated ? detail::kDefaultTransitionDuration : 0.0,
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
  dispatch::DispatchQueue::main()->asyncAfter(animated ? detail::kDefaultTransitionDuration : 0.0,
                                              [transition] { transition->completeTransition(true); });
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
