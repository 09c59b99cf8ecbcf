#pragma once
#include <optional>
#include <string>

#include "platform/uikit/Control.h"

namespace uikit {

/// Dots for pages. Setting the page sends nothing; a tap on either half moves one page and sends
/// value-changed.
class UIPageControl : public UIControl {
 public:
  std::string className() const override { return "UIPageControl"; }
  int numberOfPages() const { return pages_; }
  void setNumberOfPages(int pages);
  int currentPage() const { return current_; }
  void setCurrentPage(int page);
  bool hidesForSinglePage = false;
  std::optional<UIColor> pageIndicatorTintColor;
  std::optional<UIColor> currentPageIndicatorTintColor;
  void touchEnded(CGPoint point) override;

 private:
  int pages_ = 0;
  int current_ = 0;
};

}  // namespace uikit
