#include "platform/uikit/Window.h"

RUNTIME_CLASS(uikit::UIWindow, uikit::UIView, "UIWindow");

namespace uikit {

UIWindow::UIWindow() = default;

std::shared_ptr<UIWindow> UIWindow::create(const CGRect& frame) {
  auto window = std::make_shared<UIWindow>();
  window->setFrame(frame);
  window->refreshTraits();
  return window;
}

void UIWindow::setWindowSafeAreaInsets(const UIEdgeInsets& insets) {
  safeInsets_ = insets;
  std::function<void(UIView*)> notify = [&](UIView* v) {
    v->safeAreaInsetsDidChange();
    v->setNeedsLayout();
    for (auto& s : v->subviews()) notify(s.get());
  };
  notify(this);
}

void UIWindow::setBaseTraitCollection(const UITraitCollection& traits) {
  baseTraits_ = traits;
  refreshTraits();
}

}  // namespace uikit
