#include "platform/uikit/TabBarController.h"

#include "platform/uikit/Window.h"
#include "platform/uikit/detail/ContainerView.h"

RUNTIME_CLASS(uikit::UITabBarController, uikit::UIViewController, "UITabBarController");

namespace uikit {

std::shared_ptr<UITabBarController> UITabBarController::create() { return std::make_shared<UITabBarController>(); }

const std::shared_ptr<UITabBar>& UITabBarController::tabBar() {
  if (!bar_) bar_ = std::make_shared<UITabBar>();
  return bar_;
}

void UITabBarController::viewDidLoad() {
  auto container = std::make_shared<detail::ContainerView>();
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

}  // namespace uikit
