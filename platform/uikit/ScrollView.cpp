#include "platform/uikit/ScrollView.h"

#include <algorithm>
#include <cmath>

#include "platform/uikit/GestureRecognizer.h"
#include "platform/uikit/detail/LayoutEngine.h"

RUNTIME_CLASS(uikit::UIScrollView, uikit::UIView, "UIScrollView");

namespace uikit {

UIScrollView::UIScrollView() {
  setClipsToBounds(true);
  pan_ = std::make_shared<UIPanGestureRecognizer>();
}

void UIScrollView::didMoveToSuperview() {
  // The pan is wired once the view is a shared object, so its action can hold it weakly.
  if (pan_->view()) return;
  addGestureRecognizer(pan_);
  auto self = std::static_pointer_cast<UIScrollView>(shared_from_this());
  pan_->addTarget<UIScrollView>(self, "handlePan:", [](UIScrollView& v, UIGestureRecognizer&) { v.handlePan(); });
}

void UIScrollView::setContentOffset(CGPoint offset, bool animated) {
  CGRect b = bounds();
  b.origin = offset;
  setBounds(b);
  if (auto d = delegate.lock()) {
    d->scrollViewDidScroll(*this);
    if (animated) d->scrollViewDidEndScrollingAnimation(*this);
  }
}

void UIScrollView::layoutSubviews() {
  UIView::layoutSubviews();
  const UIView* root = this;
  while (root->superviewPointer()) root = root->superviewPointer();
  auto* engine = root->layoutEngineIfAny();
  if (!engine) return;
  auto [width, height] = engine->solvedContentSize(this);
  if (width) contentSize.width = *width;
  if (height) contentSize.height = *height;
}

void UIScrollView::scrollRectToVisible(const CGRect& rect, bool animated) {
  CGPoint offset = contentOffset();
  CGSize size = bounds().size;
  auto axis = [](CGFloat current, CGFloat visible, CGFloat start, CGFloat length, CGFloat content) {
    if (!std::isfinite(start) || !std::isfinite(length)) return current;
    CGFloat next = current;
    if (start + length > next + visible) next = start + length - visible;
    if (start < next) next = start;
    return std::clamp<CGFloat>(next, 0, std::max<CGFloat>(0, content - visible));
  };
  CGPoint target{axis(offset.x, size.width, rect.origin.x, rect.size.width, contentSize.width),
                 axis(offset.y, size.height, rect.origin.y, rect.size.height, contentSize.height)};
  if (target.x == offset.x && target.y == offset.y) return;
  setContentOffset(target, animated);
}

void UIScrollView::handlePan() {
  auto state = pan_->state();
  auto d = delegate.lock();
  if (state == UIGestureRecognizerState::Began) {
    dragging_ = true;
    dragStartOffset_ = contentOffset();
    if (d) d->scrollViewWillBeginDragging(*this);
  }
  if (!scrollEnabled) return;
  CGPoint t = pan_->translationInView(nullptr);
  CGSize size = bounds().size;
  auto clampOffset = [&](CGPoint p) {
    CGFloat maxX = std::max<CGFloat>(0, contentSize.width - size.width);
    CGFloat maxY = std::max<CGFloat>(0, contentSize.height - size.height);
    return CGPoint{std::clamp<CGFloat>(p.x, 0, maxX), std::clamp<CGFloat>(p.y, 0, maxY)};
  };
  CGPoint offset = clampOffset({dragStartOffset_.x - t.x, dragStartOffset_.y - t.y});
  if (state == UIGestureRecognizerState::Ended || state == UIGestureRecognizerState::Cancelled) {
    dragging_ = false;
    if (pagingEnabled && size.width > 0) {
      // Settle on the page the drag went towards.
      double start = dragStartOffset_.x / size.width;
      double page = t.x < 0 ? std::ceil(start + 1e-9) : (t.x > 0 ? std::floor(start - 1e-9) : std::round(start));
      offset = clampOffset({page * size.width, offset.y});
    }
    setContentOffset(offset);
    if (d) {
      d->scrollViewDidEndDragging(*this, pagingEnabled);
      d->scrollViewDidEndDecelerating(*this);
    }
    return;
  }
  setContentOffset(offset);
}

}  // namespace uikit
