#include "walkthrough/WalkthroughViewController.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Log.h"
#include "testing/ScopedManualClock.h"

namespace walkthrough {
namespace {

using uikit::CGRect;
using uikit::UIViewController;

class RecordingDelegate : public WalkthroughViewControllerDelegate {
 public:
  std::vector<std::string> events;
  void walkthroughCloseButtonPressed() override { events.push_back("close"); }
  void walkthroughNextButtonPressed() override { events.push_back("next"); }
  void walkthroughPrevButtonPressed() override { events.push_back("prev"); }
  void walkthroughPageDidChange(std::int64_t page) override { events.push_back("page " + std::to_string(page)); }
};

// A page that records what it is told.
class RecordingPage : public UIViewController, public WalkthroughPage {
 public:
  std::vector<std::pair<double, double>> told;  // (content offset, relative offset)
  std::vector<uikit::CGSize> sizes;
  int traitChanges = 0;
  void walkthroughDidScrollTo(double position, double offset) override { told.emplace_back(position, offset); }
  void viewWillTransitionToSize(uikit::CGSize size, uikit::UIViewControllerTransitionCoordinator* c) override {
    UIViewController::viewWillTransitionToSize(size, c);
    sizes.push_back(size);
  }
  void willTransitionToTraitCollection(const uikit::UITraitCollection& t,
                                       uikit::UIViewControllerTransitionCoordinator* c) override {
    UIViewController::willTransitionToTraitCollection(t, c);
    traitChanges++;
  }
};

constexpr double kWidth = 320, kHeight = 480;

class WalkthroughTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousSink = uikit::UIKitLog::setSink([this](const std::string& line) { log.push_back(line); });
  }
  void TearDown() override {
    uikit::UIKitLog::setSink(previousSink);
    EXPECT_TRUE(log.empty()) << "the layout holds no conflict: " << log.front();
  }
  uikit::UIKitLog::Sink previousSink;
  std::vector<std::string> log;
  // A container of `pages` recording pages (a plain controller where `plainAt` says), with
  // every outlet, laid out at 320 × 480.
  void make(int pages, int plainAt = -1) {
    container = WalkthroughViewController::create();
    container->delegate = delegate;
    container->pageControl = std::make_shared<uikit::UIPageControl>();
    container->nextButton = uikit::UIButton::create();
    container->prevButton = uikit::UIButton::create();
    container->closeButton = uikit::UIButton::create();
    for (int i = 0; i < pages; ++i) {
      auto page = i == plainAt ? std::make_shared<UIViewController>() : std::make_shared<RecordingPage>();
      container->add(page);
    }
    auto& view = container->view();
    view->setFrame({0, 0, kWidth, kHeight});
    for (auto& outlet : std::vector<std::shared_ptr<uikit::UIView>>{container->pageControl, container->nextButton,
                                                                    container->prevButton, container->closeButton})
      view->addSubview(outlet);
    view->layoutIfNeeded();
  }
  RecordingPage& page(std::size_t i) { return dynamic_cast<RecordingPage&>(*container->controllers()[i]); }
  double offset() const { return container->scrollview()->contentOffset().x; }
  void scrollTo(double x) { container->scrollview()->setContentOffset({x, 0}); }

  testing_support::ScopedManualClock clock;
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<WalkthroughViewController> container;
};

TEST_F(WalkthroughTest, PagesSitSideBySideWithOneTrailingPin) {
  make(1);
  auto& scroll = container->scrollview();
  EXPECT_EQ(container->view()->subviews().front(), scroll) << "behind the views of the interface file";
  EXPECT_TRUE(scroll->pagingEnabled);
  EXPECT_FALSE(scroll->showsHorizontalScrollIndicator);
  EXPECT_FALSE(scroll->showsVerticalScrollIndicator);
  EXPECT_EQ(scroll->frame(), (CGRect{0, 0, kWidth, kHeight}));
  EXPECT_EQ(container->controllers()[0]->view()->frame(), (CGRect{0, 0, kWidth, kHeight}));
  EXPECT_FALSE(container->lastViewConstraint()) << "the first page gets no trailing pin";
  EXPECT_EQ(container->controllers()[0]->parentViewController(), container);

  container->add(std::make_shared<RecordingPage>());
  auto secondPin = *container->lastViewConstraint();
  ASSERT_FALSE(secondPin.empty());
  container->add(std::make_shared<RecordingPage>());
  for (auto& c : secondPin) EXPECT_FALSE(c->isActive()) << "the second page's trailing pin went";
  for (auto& c : *container->lastViewConstraint()) EXPECT_TRUE(c->isActive());
  container->view()->layoutIfNeeded();
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(container->controllers()[i]->view()->frame(), (CGRect{kWidth * i, 0, kWidth, kHeight})) << i;
  EXPECT_EQ(scroll->contentSize, (uikit::CGSize{3 * kWidth, kHeight}));
  EXPECT_EQ(container->numberOfPages(), 3);

  // Scrolling and laying out again leaves the pages where they are.
  container->nextPage();
  container->view()->setNeedsLayout();
  container->view()->layoutIfNeeded();
  EXPECT_EQ(container->controllers()[2]->view()->frame(), (CGRect{2 * kWidth, 0, kWidth, kHeight}));
  EXPECT_EQ(offset(), kWidth);
}

TEST_F(WalkthroughTest, ButtonsMoveOnePageAndTheArrivalIsReported) {
  make(3);
  auto hidden = [&] { return std::pair{container->prevButton->isHidden(), container->nextButton->isHidden()}; };

  container->prevPage();
  EXPECT_TRUE(delegate->events.empty()) << "no previous page to go to";
  container->nextPage();
  EXPECT_EQ(offset(), kWidth);
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"next", "page 1"}));
  EXPECT_EQ(hidden(), std::pair(false, false));
  EXPECT_EQ(container->currentViewController(), container->controllers()[1]);

  container->nextPage();
  EXPECT_EQ(offset(), 2 * kWidth);
  EXPECT_EQ(hidden(), std::pair(false, true)) << "next hidden on the last page";
  delegate->events.clear();
  container->nextPage();
  EXPECT_TRUE(delegate->events.empty()) << "no next page to go to";
  EXPECT_EQ(offset(), 2 * kWidth);

  container->prevPage();
  container->prevPage();
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"prev", "page 1", "prev", "page 0"}));
  EXPECT_EQ(hidden(), std::pair(true, false));
  EXPECT_EQ(container->pageControl->currentPage(), 0);

  delegate->events.clear();
  container->close(container->closeButton.get());
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"close"}));
  EXPECT_EQ(offset(), 0);

  // Ending a drag where it started still reports the page.
  delegate->events.clear();
  container->scrollViewDidEndDecelerating(*container->scrollview());
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"page 0"}));

  // A delegate that is gone only drops the messages.
  delegate.reset();
  container->nextPage();
  EXPECT_EQ(offset(), kWidth);
}

TEST_F(WalkthroughTest, PageControlTapsAndAppearance) {
  make(3);
  auto& control = *container->pageControl;
  container->viewWillAppear(false);
  EXPECT_EQ(control.numberOfPages(), 3);

  control.setCurrentPage(2);
  control.sendActionsForControlEvents(uikit::UIControlEventTouchUpInside);
  EXPECT_EQ(offset(), 2 * kWidth);
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"page 0", "page 2"})) << "no button message for a tap";

  // Every appearance reports the page it rests on, then the indicator shows the first page.
  delegate->events.clear();
  container->viewWillAppear(true);
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"page 2"}));
  EXPECT_EQ(control.currentPage(), 0);
  EXPECT_EQ(control.numberOfPages(), 3);

  // A dot beyond the pages goes nowhere.
  control.setNumberOfPages(8);
  control.setCurrentPage(6);
  delegate->events.clear();
  container->pageControlDidTouch();
  EXPECT_EQ(offset(), 2 * kWidth);
  EXPECT_TRUE(delegate->events.empty());
}

TEST_F(WalkthroughTest, WithoutPagesNextShowsAndPreviousHides) {
  make(0);
  container->updateUI();
  EXPECT_FALSE(container->nextButton->isHidden());
  EXPECT_TRUE(container->prevButton->isHidden());
  EXPECT_EQ(container->currentViewController(), nullptr);
  container->nextPage();
  container->prevPage();
  EXPECT_EQ(offset(), 0);
}

TEST_F(WalkthroughTest, PagesNearTheVisiblePositionHearTheirOffsets) {
  make(6, /*plainAt=*/1);
  struct Case {
    double x;
    std::vector<std::pair<std::size_t, double>> told;  // page, relative offset
  } cases[] = {
      {2 * kWidth, {{2, 1}, {3, 0}, {4, -1}}},
      {2.5 * kWidth, {{2, 1.5}, {3, 0.5}, {4, -0.5}, {5, -1.5}}},
      {0, {{0, 1}, {2, -1}}},  // page 1 does not listen but keeps its place
  };
  for (const auto& c : cases) {
    for (std::size_t i : {0, 2, 3, 4, 5}) page(i).told.clear();
    scrollTo(c.x);
    std::vector<std::pair<std::size_t, double>> told;
    for (std::size_t i : {0, 2, 3, 4, 5})
      for (auto& [position, relative] : page(i).told) {
        EXPECT_EQ(position, c.x);
        told.emplace_back(i, relative);
      }
    EXPECT_EQ(told, c.told) << "x = " << c.x;
  }
  EXPECT_TRUE(delegate->events.empty()) << "scrolling alone reports no page";
}

TEST_F(WalkthroughTest, CurrentPageStaysAnIndexForAnyWidthOrOffset) {
  make(3);
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  struct Case {
    double width, x;
    std::int64_t page;
    bool hasController;
  } cases[] = {
      {kWidth, 1.99 * kWidth, 1, true},  // truncated, not rounded
      {kWidth, -10, 0, true},            // toward zero
      {kWidth, -1.5 * kWidth, -1, false},
      {kWidth, 3 * kWidth, 3, false},
      {kWidth, 1e300, kMax, false},
      {kWidth, -1e300, kMin, false},
      {kWidth, std::nan(""), 0, true},
      {0, 2 * kWidth, 0, true},
      {0, 0, 0, true},
  };
  for (const auto& c : cases) {
    container->view()->setFrame({0, 0, c.width, kHeight});
    scrollTo(c.x);
    EXPECT_EQ(container->currentPage(), c.page) << c.width << " " << c.x;
    EXPECT_EQ(container->currentViewController() != nullptr, c.hasController) << c.width << " " << c.x;
    container->nextPage();  // neither overflows nor indexes outside the pages
    container->prevPage();
  }
}

TEST_F(WalkthroughTest, TransitionsReachThePagesAndKeepThePage) {
  make(3);
  container->nextPage();
  container->nextPage();
  ASSERT_EQ(offset(), 2 * kWidth);

  container->viewWillTransitionToSize({480, kHeight}, nullptr);
  container->willTransitionToTraitCollection({}, nullptr);
  EXPECT_EQ(page(0).sizes, (std::vector<uikit::CGSize>{{480, kHeight}})) << "the pages hear of the new size";
  EXPECT_EQ(page(2).traitChanges, 1);

  container->view()->setFrame({0, 0, 480, kHeight});
  container->view()->layoutIfNeeded();
  clock->advance(0.05);
  dispatch::drainMainQueue();
  EXPECT_EQ(offset(), 2 * kWidth) << "not before 0.1 s";
  clock->advance(0.05);
  dispatch::drainMainQueue();
  EXPECT_EQ(offset(), 2 * 480) << "back on the page it was on, at the new width";
  EXPECT_EQ(container->currentPage(), 2);

  // A container that is gone before the task runs is left alone.
  container->viewWillTransitionToSize({kWidth, kHeight}, nullptr);
  std::weak_ptr<WalkthroughViewController> weak = container;
  container.reset();
  EXPECT_TRUE(weak.expired());
  clock->advance(0.2);
  dispatch::drainMainQueue();
}

}  // namespace
}  // namespace walkthrough
