#pragma once
#include <memory>
#include <string>

#include "platform/uikit/View.h"

namespace uikit {

class UIScrollView;

/// What a scroll view tells its delegate.
class UIScrollViewDelegate {
 public:
  virtual ~UIScrollViewDelegate() = default;
  virtual void scrollViewDidScroll(UIScrollView& /*scrollView*/) {}
  virtual void scrollViewWillBeginDragging(UIScrollView& /*scrollView*/) {}
  virtual void scrollViewDidEndDragging(UIScrollView& /*scrollView*/, bool /*decelerate*/) {}
  virtual void scrollViewDidEndDecelerating(UIScrollView& /*scrollView*/) {}
  virtual void scrollViewDidEndScrollingAnimation(UIScrollView& /*scrollView*/) {}
};

/// A view whose bounds origin is its content offset. A drag scrolls it (with paging, it settles
/// on the nearest page in the drag's direction); setting the offset tells the delegate it
/// scrolled but starts no drag.
class UIScrollView : public UIView {
 public:
  UIScrollView();
  std::string className() const override { return "UIScrollView"; }
  CGPoint contentOffset() const { return bounds().origin; }
  void setContentOffset(CGPoint offset, bool animated = false);
  /// Scrolls the least distance that brings `rect` (in content coordinates) into view, within
  /// the content size; nothing happens, and the delegate hears nothing, when it is in view.
  void scrollRectToVisible(const CGRect& rect, bool animated);
  CGSize contentSize;
  UIEdgeInsets contentInset;
  bool pagingEnabled = false;
  bool scrollEnabled = true;
  bool bounces = true;
  bool showsHorizontalScrollIndicator = true;
  bool showsVerticalScrollIndicator = true;
  std::weak_ptr<UIScrollViewDelegate> delegate;
  void flashScrollIndicators() { ++indicatorFlashes; }
  int indicatorFlashes = 0;
  bool isDragging() const { return dragging_; }
  const std::shared_ptr<class UIPanGestureRecognizer>& panGestureRecognizer() const { return pan_; }
  void didMoveToSuperview() override;
  /// Lays out the subviews, then takes the content size the content's constraints give, on the
  /// axes they give one (a descendant tied to the trailing, bottom or centre edge).
  void layoutSubviews() override;

 private:
  void handlePan();
  std::shared_ptr<class UIPanGestureRecognizer> pan_;
  CGPoint dragStartOffset_;
  bool dragging_ = false;
};

}  // namespace uikit
