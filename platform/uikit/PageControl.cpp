#include "platform/uikit/PageControl.h"

#include <algorithm>

RUNTIME_CLASS(uikit::UIPageControl, uikit::UIControl, "UIPageControl");

namespace uikit {

void UIPageControl::setNumberOfPages(int pages) {
  pages_ = std::max(0, pages);
  current_ = std::clamp(current_, 0, std::max(0, pages_ - 1));
  setHidden(hidesForSinglePage && pages_ <= 1);
}

void UIPageControl::setCurrentPage(int page) { current_ = std::clamp(page, 0, std::max(0, pages_ - 1)); }

void UIPageControl::touchEnded(CGPoint point) {
  bool wasTracking = isTracking();
  bool inside = pointInside(point);
  UIControl::touchEnded(point);
  if (!wasTracking || !inside || pages_ == 0) return;
  int next = point.x < bounds().size.width / 2 ? current_ - 1 : current_ + 1;
  next = std::clamp(next, 0, pages_ - 1);
  if (next == current_) return;
  current_ = next;
  sendActionsForControlEvents(UIControlEventValueChanged);
}

}  // namespace uikit
