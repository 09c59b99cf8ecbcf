#include "platform/uikit/NavigationController.h"

#include <algorithm>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/uikit/Window.h"
#include "platform/uikit/detail/ContainerView.h"

RUNTIME_CLASS(uikit::UINavigationController, uikit::UIViewController, "UINavigationController");

namespace uikit {

namespace {
constexpr CGFloat kNavigationBarHeight = 44;
}  // namespace

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
  auto container = std::make_shared<detail::ContainerView>();
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
    dispatch::DispatchQueue::main()->asyncAfter(detail::kDefaultTransitionDuration, finish);
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

}  // namespace uikit
