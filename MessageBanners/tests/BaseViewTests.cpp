#include <gtest/gtest.h>

#include "MessageBanners/AnimationContext.h"
#include "MessageBanners/BaseView.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Window.h"
#include "testing/ScopedManualClock.h"

namespace MessageBanners {
namespace {

using uikit::CGRect;
using uikit::UIEdgeInsets;

class BaseViewTests : public ::testing::Test {
 protected:
  void SetUp() override { dispatch::drainMainQueue(); }
  void TearDown() override { dispatch::drainMainQueue(); }

  /// A window of `width` × 844 in the given horizontal size class, with `message` filling it.
  std::shared_ptr<uikit::UIWindow> windowWith(const std::shared_ptr<BaseView>& message, double width,
                                              uikit::UIUserInterfaceSizeClass sizeClass,
                                              UIEdgeInsets safe = {}) {
    auto window = uikit::UIWindow::create({0, 0, width, 844});
    window->setWindowSafeAreaInsets(safe);
    auto traits = window->baseTraitCollection();
    traits.horizontalSizeClass = sizeClass;
    window->setBaseTraitCollection(traits);
    message->setFrame(window->bounds());
    window->addSubview(message);
    return window;
  }
  testing_support::ScopedManualClock clock_;
};

std::size_t fixedHeightConstraints(const uikit::UIView& view) {
  std::size_t n = 0;
  for (const auto& c : view.constraints()) {
    // The weak fallback height of 350 is not the card's fixed height.
    if (c->firstAttribute() == uikit::NSLayoutAttribute::Height && !c->secondItem() && c->priority() == 1000) ++n;
  }
  return n;
}

TEST_F(BaseViewTests, NewViewIsItsOwnCardWithZeroMargins) {
  auto view = BaseView::create({0, 0, 100, 50});
  EXPECT_EQ(view->backgroundView(), view);
  EXPECT_EQ(view->layoutMargins(), UIEdgeInsets{});
  EXPECT_EQ(view->bounceAnimationOffset(), 5.0);
  EXPECT_TRUE(view->respectSafeArea());
  EXPECT_TRUE(view->collapseLayoutMarginAdditions());
  EXPECT_EQ(view->layoutMarginAdditions(), UIEdgeInsets{});
}

TEST_F(BaseViewTests, MarginAdjustmentCombinesAdditionsAndSafeArea) {
  struct Case {
    const char* name;
    bool collapse;
    bool respectSafeArea;
    SafeZoneConflicts conflicts;
    UIEdgeInsets expected;
  } cases[] = {
      {"collapsed", true, true, {}, {44, 0, 34, 0}},
      {"summed", false, true, {}, {54, 0, 44, 0}},
      {"collapsed, status bar covered", true, true, SafeZoneConflicts::statusBarCovered(), {10, 0, 34, 0}},
      {"summed, status bar covered", false, true, SafeZoneConflicts::statusBarCovered(), {10, 0, 44, 0}},
      {"safe area ignored", true, false, SafeZoneConflicts::topConflict(), {10, 0, 10, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto view = BaseView::create();
    auto window = windowWith(view, 390, uikit::UIUserInterfaceSizeClass::Compact, {44, 0, 34, 0});
    view->setLayoutMarginAdditions({10, 0, 10, 0});
    view->setCollapseLayoutMarginAdditions(c.collapse);
    view->setRespectSafeArea(c.respectSafeArea);
    AnimationContext context(view, window, c.conflicts, true);
    EXPECT_EQ(view->defaultMarginAdjustment(context), c.expected);
    // The adjustment already holds the safe area, so the margins stop adding it again.
    EXPECT_EQ(view->insetsLayoutMarginsFromSafeArea, !c.respectSafeArea);
  }
}

TEST_F(BaseViewTests, CardWidthRulesSwitchWithSizeClass) {
  auto view = BaseView::create();
  auto card = uikit::UIView::create();
  view->installBackground(card, {});
  view->setSideLayoutMargins(16);
  auto window = windowWith(view, 390, uikit::UIUserInterfaceSizeClass::Compact);
  window->layoutIfNeeded();
  EXPECT_EQ(card->frame().origin.x, 16);
  EXPECT_EQ(card->frame().size.width, 358);

  auto regular = window->baseTraitCollection();
  regular.horizontalSizeClass = uikit::UIUserInterfaceSizeClass::Regular;
  window->setBaseTraitCollection(regular);
  window->setFrame({0, 0, 1024, 844});
  view->setFrame(window->bounds());
  window->layoutIfNeeded();
  EXPECT_EQ(card->frame().size.width, 500);
  EXPECT_EQ(card->frame().midX(), 512);
  for (const auto& c : view->regularWidthLayoutConstraints) EXPECT_TRUE(c->isActive());
  for (const auto& c : view->layoutConstraints) EXPECT_FALSE(c->isActive());

  // A regular-width container narrower than the cap keeps the card inside the margins.
  window->setFrame({0, 0, 400, 844});
  view->setFrame(window->bounds());
  window->layoutIfNeeded();
  EXPECT_EQ(card->frame().origin.x, 16);
  EXPECT_EQ(card->frame().size.width, 368);

  auto compact = regular;
  compact.horizontalSizeClass = uikit::UIUserInterfaceSizeClass::Compact;
  window->setBaseTraitCollection(compact);
  window->setFrame({0, 0, 1024, 844});
  view->setFrame(window->bounds());
  window->layoutIfNeeded();
  EXPECT_EQ(card->frame().origin.x, 16);
  EXPECT_EQ(card->frame().size.width, 992);
}

TEST_F(BaseViewTests, TapRecognizerSitsOnTheCardWhileAHandlerIsSet) {
  auto view = BaseView::create({0, 0, 300, 100});
  int taps = 0;
  view->setTapHandler([&](BaseView& tapped) {
    EXPECT_EQ(&tapped, view.get());
    ++taps;
  });
  EXPECT_EQ(view->tapRecognizer().view(), view.get());

  auto card = uikit::UIView::create();
  view->installBackground(card, {});
  EXPECT_EQ(view->tapRecognizer().view(), card.get());
  auto& recognizer = view->tapRecognizer();
  recognizer.touchBegan({5, 5});
  recognizer.touchEnded({6, 5}, 0);
  EXPECT_EQ(taps, 1);

  view->setTapHandler(nullptr);
  EXPECT_EQ(view->tapRecognizer().view(), nullptr);
  EXPECT_TRUE(card->gestureRecognizers().empty());
  view->setTapHandler([&](BaseView&) { ++taps; });
  EXPECT_EQ(view->tapRecognizer().view(), card.get());
}

TEST_F(BaseViewTests, BackgroundHeightKeepsOneConstraintOnTheCard) {
  auto view = BaseView::create();
  auto card = uikit::UIView::create();
  view->installBackground(card, {});
  view->setBackgroundHeight(80);
  view->setBackgroundHeight(120);
  EXPECT_EQ(fixedHeightConstraints(*card), 1u);
  EXPECT_EQ(view->backgroundHeightConstraint()->constant(), 120);

  // A new card takes the height along.
  auto other = uikit::UIView::create();
  view->installBackground(other, {});
  EXPECT_EQ(fixedHeightConstraints(*card), 0u);
  EXPECT_EQ(fixedHeightConstraints(*other), 1u);

  view->setBackgroundHeight(std::nullopt);
  EXPECT_EQ(fixedHeightConstraints(*other), 0u);
  EXPECT_EQ(view->backgroundHeightConstraint(), nullptr);
}

TEST_F(BaseViewTests, PointInsideIsTheCardsWhenTheCardIsASubview) {
  auto view = BaseView::create();
  auto card = uikit::UIView::create();
  view->installBackground(card, {20, 0, 20, 0});
  view->setSideLayoutMargins(16);
  auto window = windowWith(view, 390, uikit::UIUserInterfaceSizeClass::Compact);
  window->layoutIfNeeded();
  EXPECT_TRUE(view->pointInside({100, 400}));
  EXPECT_FALSE(view->pointInside({8, 400}));
  EXPECT_FALSE(view->pointInside({100, 10}));

  // Once the card is gone the view answers for itself.
  card->removeFromSuperview();
  card.reset();
  EXPECT_EQ(view->backgroundView(), nullptr);
  EXPECT_TRUE(view->pointInside({8, 400}));
  EXPECT_FALSE(view->pointInside({400, 400}));
}

TEST_F(BaseViewTests, ContentFillsTheCardWithinInsets) {
  auto view = BaseView::create();
  auto card = uikit::UIView::create();
  view->installEdgePinnedBackground(card, {});
  auto content = uikit::UIView::create();
  view->installContent(content, {10, 12, 14, 16});
  auto window = windowWith(view, 390, uikit::UIUserInterfaceSizeClass::Compact);
  window->layoutIfNeeded();
  EXPECT_EQ(content->superview(), card);
  EXPECT_EQ(content->frame(), (CGRect{12, 10, 390 - 28, 844 - 24}));
}

}  // namespace
}  // namespace MessageBanners
