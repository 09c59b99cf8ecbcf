#include "MessageBanners/PassthroughView.h"

#include "platform/uikit/Archive.h"

namespace MessageBanners {

std::shared_ptr<PassthroughView> PassthroughView::create(const uikit::CGRect& frame) {
  auto view = std::shared_ptr<PassthroughView>(new PassthroughView());
  view->setFrame(frame);
  view->registerTapAction();
  return view;
}

void PassthroughView::registerArchiveClass() {
  uikit::ClassRegistry::registerClass("MessageBanners.PassthroughView", "UIControl", [] { return create(); });
}

void PassthroughView::registerTapAction() {
  tappedHander = nullptr;
  auto self = std::static_pointer_cast<PassthroughView>(shared_from_this());
  addTarget<PassthroughView>(self, "tapped", uikit::UIControlEventTouchUpInside,
                             [](PassthroughView& v, uikit::UIControl&) { v.tapped(); });
}

void PassthroughView::tapped() {
  if (tappedHander) tappedHander();
}

std::shared_ptr<uikit::UIView> PassthroughView::hitTest(uikit::CGPoint point) {
  auto result = UIControl::hitTest(point);
  if (!result) return nullptr;
  if (result.get() == this && !tappedHander) return nullptr;
  return result;
}

std::shared_ptr<PassthroughWindow> PassthroughWindow::create(const std::shared_ptr<uikit::UIView>& hitTestView) {
  auto window = std::make_shared<PassthroughWindow>();
  window->hitTestView_ = hitTestView;
  return window;
}

std::shared_ptr<uikit::UIView> PassthroughWindow::hitTest(uikit::CGPoint point) {
  auto result = UIWindow::hitTest(point);
  if (!result) return nullptr;
  auto target = hitTestView_.lock();
  if (!target) return result;
  if (target.get() != result.get() && target->isDescendantOfView(result.get())) return nullptr;
  return result;
}

}  // namespace MessageBanners
