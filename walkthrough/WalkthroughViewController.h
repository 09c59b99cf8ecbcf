#pragma once
// A screen that shows a row of page controllers side by side in a horizontally paging scroll
// view, with an optional page indicator and next, previous and close buttons. While the user
// scrolls, every page near the visible position is told how far it stands from its resting
// place. Main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/uikit/Button.h"
#include "platform/uikit/LayoutConstraint.h"
#include "platform/uikit/PageControl.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/ViewController.h"

namespace walkthrough {

/// Hears of button presses and page changes; every method is optional.
class WalkthroughViewControllerDelegate {
 public:
  virtual ~WalkthroughViewControllerDelegate() = default;
  virtual void walkthroughCloseButtonPressed() {}
  virtual void walkthroughNextButtonPressed() {}
  virtual void walkthroughPrevButtonPressed() {}
  virtual void walkthroughPageDidChange(std::int64_t /*pageNumber*/) {}
};

/// A page that wants to know where it stands while the pages scroll.
class WalkthroughPage {
 public:
  virtual ~WalkthroughPage() = default;
  /// `position` is the scroll view's horizontal content offset in points; `offset` is 1 when the
  /// page fills the view, 0 one page to the right of it and 2 one page to the left.
  virtual void walkthroughDidScrollTo(double position, double offset) = 0;
};

class WalkthroughViewController : public uikit::UIViewController, public uikit::UIScrollViewDelegate {
 public:
  WalkthroughViewController();
  static std::shared_ptr<WalkthroughViewController> create();
  std::string className() const override { return "WalkthroughViewController"; }

  /// Held weakly; a delegate that is gone is not told.
  std::weak_ptr<WalkthroughViewControllerDelegate> delegate;
  /// Outlets from the interface file; any may be missing. The close button is only held.
  std::shared_ptr<uikit::UIPageControl> pageControl;
  std::shared_ptr<uikit::UIButton> nextButton;
  std::shared_ptr<uikit::UIButton> prevButton;
  std::shared_ptr<uikit::UIButton> closeButton;

  const std::shared_ptr<uikit::UIScrollView>& scrollview() const { return scrollview_; }
  /// The pages in display order; only ever appended to.
  const std::vector<std::shared_ptr<uikit::UIViewController>>& controllers() const { return controllers_; }
  /// The constraints pinning the last page's trailing edge to the scroll view's; set from the
  /// second page on.
  const std::optional<std::vector<std::shared_ptr<uikit::NSLayoutConstraint>>>& lastViewConstraint() const {
    return lastViewConstraint_;
  }

  /// The horizontal content offset over the width of the container's view, truncated toward
  /// zero; 0 while that width is zero or the quotient is not finite, and kept within 64 bits.
  virtual std::int64_t currentPage();
  /// The page at currentPage(); null when that is outside the pages.
  virtual std::shared_ptr<uikit::UIViewController> currentViewController();
  virtual std::int64_t numberOfPages() const;

  // Actions for the buttons and the page control.
  virtual void nextPage();
  virtual void prevPage();
  virtual void close(uikit::UIControl* sender);
  virtual void pageControlDidTouch();

  /// Appends `page` as the last page: a child controller whose view has the scroll view's size
  /// and starts where the previous page ends. Allowed before the view has loaded.
  virtual void add(const std::shared_ptr<uikit::UIViewController>& page);
  /// Brings the page control, the delegate and the buttons up to date with the current page.
  virtual void updateUI();

  void scrollViewDidScroll(uikit::UIScrollView& scrollView) override;
  void scrollViewDidEndDecelerating(uikit::UIScrollView& scrollView) override;
  void scrollViewDidEndScrollingAnimation(uikit::UIScrollView& scrollView) override;
  /// Remembers the current page and goes back to it 0.1 s later, once the new size is in place.
  virtual void keepPageAcrossTransition();

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewWillTransitionToSize(uikit::CGSize size, uikit::UIViewControllerTransitionCoordinator* coordinator) override;
  void willTransitionToTraitCollection(const uikit::UITraitCollection& traits,
                                       uikit::UIViewControllerTransitionCoordinator* coordinator) override;

 private:
  void scrollToPage(std::int64_t page);
  void scrollPages();

  std::shared_ptr<uikit::UIScrollView> scrollview_;
  std::vector<std::shared_ptr<uikit::UIViewController>> controllers_;
  std::optional<std::vector<std::shared_ptr<uikit::NSLayoutConstraint>>> lastViewConstraint_;
};

/// Registers the walkthrough's classes with the archive registries, so interface files can name
/// them and set their outlets and attributes. Safe to call more than once.
void registerWalkthroughClasses();

}  // namespace walkthrough
