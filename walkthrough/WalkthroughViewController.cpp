#include "walkthrough/WalkthroughViewController.h"

#include <cmath>
#include <limits>
#include <map>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/uikit/Log.h"

RUNTIME_CLASS(walkthrough::WalkthroughViewController, uikit::UIViewController, "WalkthroughViewController");

namespace walkthrough {

using uikit::NSLayoutConstraint;
using uikit::UIView;

namespace {

using Constraints = std::vector<std::shared_ptr<NSLayoutConstraint>>;

/// Constraints from a visual format; a format the factory refuses gives an empty list (logged).
Constraints visualConstraints(const std::string& format, const std::map<std::string, std::shared_ptr<UIView>>& views) {
  auto made = NSLayoutConstraint::constraintsWithVisualFormat(format, {}, views);
  if (!made.ok()) {
    uikit::UIKitLog::write("walkthrough: no constraints from " + format + ": " + made.error().localizedDescription());
    return {};
  }
  return *made;
}
}  // namespace

WalkthroughViewController::WalkthroughViewController() : scrollview_(std::make_shared<uikit::UIScrollView>()) {
  scrollview_->showsHorizontalScrollIndicator = false;
  scrollview_->showsVerticalScrollIndicator = false;
  scrollview_->pagingEnabled = true;
}

std::shared_ptr<WalkthroughViewController> WalkthroughViewController::create() {
  return std::make_shared<WalkthroughViewController>();
}

std::int64_t WalkthroughViewController::currentPage() {
  double width = view()->bounds().size.width;
  double quotient = scrollview_->contentOffset().x / width;
  // A view without width (not laid out yet) or an offset that is not a number stands on page 0.
  if (width == 0 || !std::isfinite(quotient)) return 0;
  double page = std::trunc(quotient);
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (page >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (page < -kLimit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(page);
}

std::shared_ptr<uikit::UIViewController> WalkthroughViewController::currentViewController() {
  std::int64_t page = currentPage();
  if (page < 0 || page >= numberOfPages()) return nullptr;
  return controllers_[static_cast<std::size_t>(page)];
}

std::int64_t WalkthroughViewController::numberOfPages() const { return static_cast<std::int64_t>(controllers_.size()); }

void WalkthroughViewController::nextPage() {
  if (currentPage() < numberOfPages() - 1) {
    if (auto d = delegate.lock()) d->walkthroughNextButtonPressed();
    // The delegate may have moved the pages; go on from where they are now.
    std::int64_t page = currentPage();
    if (page < numberOfPages() - 1) scrollToPage(page + 1);
  }
}

void WalkthroughViewController::prevPage() {
  if (currentPage() > 0) {
    if (auto d = delegate.lock()) d->walkthroughPrevButtonPressed();
    std::int64_t page = currentPage();
    if (page > 0) scrollToPage(page - 1);
  }
}

void WalkthroughViewController::close(uikit::UIControl* /*sender*/) {
  if (auto d = delegate.lock()) d->walkthroughCloseButtonPressed();
}

void WalkthroughViewController::pageControlDidTouch() {
  if (pageControl) scrollToPage(pageControl->currentPage());
}

void WalkthroughViewController::scrollToPage(std::int64_t page) {
  if (page < 0 || page >= numberOfPages()) return;
  auto frame = scrollview_->frame();
  scrollview_->scrollRectToVisible(
      {frame.size.width * static_cast<double>(page), frame.origin.y, frame.size.width, frame.size.height}, true);
}

void WalkthroughViewController::add(const std::shared_ptr<uikit::UIViewController>& page) {
  if (!page) {
    uikit::UIKitLog::write("walkthrough: a null page was not added");
    return;
  }
  controllers_.push_back(page);
  addChildViewController(page);
  page->didMoveToParentViewController(this);

  const auto& pageView = page->view();
  pageView->setTranslatesAutoresizingMaskIntoConstraints(false);
  scrollview_->addSubview(pageView);

  std::map<std::string, std::shared_ptr<UIView>> sized{{"view", pageView}, {"container", scrollview_}};
  scrollview_->addConstraints(visualConstraints("V:[view(==container)]", sized));
  scrollview_->addConstraints(visualConstraints("H:[view(==container)]", sized));
  scrollview_->addConstraints(visualConstraints("V:|-0-[view]|", sized));

  if (controllers_.size() == 1) {
    scrollview_->addConstraints(visualConstraints("H:|-0-[view]", {{"view", pageView}}));
    return;
  }
  const auto& previousView = controllers_[controllers_.size() - 2]->view();
  scrollview_->addConstraints(
      visualConstraints("H:[previousView]-0-[view]", {{"previousView", previousView}, {"view", pageView}}));
  if (lastViewConstraint_) scrollview_->removeConstraints(*lastViewConstraint_);
  lastViewConstraint_ = visualConstraints("H:[view]-0-|", {{"view", pageView}});
  scrollview_->addConstraints(*lastViewConstraint_);
}

void WalkthroughViewController::updateUI() {
  auto clampToInt = [](std::int64_t page) {
    return static_cast<int>(std::clamp<std::int64_t>(page, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
  };
  if (pageControl) pageControl->setCurrentPage(clampToInt(currentPage()));
  if (auto d = delegate.lock()) d->walkthroughPageDidChange(currentPage());
  if (nextButton) nextButton->setHidden(currentPage() == numberOfPages() - 1);
  if (prevButton) prevButton->setHidden(currentPage() == 0);
}

void WalkthroughViewController::scrollViewDidScroll(uikit::UIScrollView& /*scrollView*/) { scrollPages(); }

void WalkthroughViewController::scrollViewDidEndDecelerating(uikit::UIScrollView& /*scrollView*/) { updateUI(); }

void WalkthroughViewController::scrollViewDidEndScrollingAnimation(uikit::UIScrollView& /*scrollView*/) {
  updateUI();
}

void WalkthroughViewController::scrollPages() {
  std::size_t count = controllers_.size();
  for (std::size_t i = 0; i < count && i < controllers_.size(); ++i) {
    auto* page = dynamic_cast<WalkthroughPage*>(controllers_[i].get());
    if (!page) continue;
    double width = view()->bounds().size.width;
    double x = scrollview_->contentOffset().x;
    double offset = ((x + width) - width * static_cast<double>(i)) / width;
    if (offset > -2 && offset < 2) page->walkthroughDidScrollTo(x, offset);
  }
}

void WalkthroughViewController::keepPageAcrossTransition() {
  std::int64_t page = currentPage();
  std::weak_ptr<UIViewController> weak = weak_from_this();
  dispatch::DispatchQueue::main()->asyncAfter(0.1, [weak, page] {
    if (auto strong = weak.lock()) static_cast<WalkthroughViewController&>(*strong).scrollToPage(page);
  });
}

void WalkthroughViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  auto self = std::static_pointer_cast<WalkthroughViewController>(shared_from_this());
  if (pageControl)
    pageControl->addTarget<WalkthroughViewController>(
        self, "pageControlDidTouch", uikit::UIControlEventTouchUpInside,
        [](WalkthroughViewController& controller, uikit::UIControl&) { controller.pageControlDidTouch(); });
  scrollview_->delegate =
      std::shared_ptr<uikit::UIScrollViewDelegate>(self, static_cast<uikit::UIScrollViewDelegate*>(this));
  scrollview_->setTranslatesAutoresizingMaskIntoConstraints(false);
  const auto& root = view();
  root->insertSubview(scrollview_, 0);
  std::map<std::string, std::shared_ptr<UIView>> views{{"scrollview", scrollview_}};
  root->addConstraints(visualConstraints("V:|-0-[scrollview]-0-|", views));
  root->addConstraints(visualConstraints("H:|-0-[scrollview]-0-|", views));
}

void WalkthroughViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  updateUI();
  if (pageControl) pageControl->setNumberOfPages(static_cast<int>(std::min<std::int64_t>(
                       numberOfPages(), std::numeric_limits<int>::max())));
  if (pageControl) pageControl->setCurrentPage(0);
}

void WalkthroughViewController::viewWillTransitionToSize(uikit::CGSize size,
                                                         uikit::UIViewControllerTransitionCoordinator* coordinator) {
  // The pages hear of the new size too.
  UIViewController::viewWillTransitionToSize(size, coordinator);
  keepPageAcrossTransition();
}

void WalkthroughViewController::willTransitionToTraitCollection(
    const uikit::UITraitCollection& traits, uikit::UIViewControllerTransitionCoordinator* coordinator) {
  UIViewController::willTransitionToTraitCollection(traits, coordinator);
  keepPageAcrossTransition();
}

}  // namespace walkthrough
