#include <gtest/gtest.h>

#include <cmath>

#include "platform/uikit/View.h"
#include "platform/uikit/Window.h"

namespace uikit {
namespace {

TEST(ViewTests, PointsSurviveARoundTripThroughNestedTransforms) {
  auto window = UIWindow::create({0, 0, 390, 844});
  auto outer = UIView::create({30, 40, 200, 300});
  auto middle = UIView::create({10, 20, 120, 80});
  auto inner = UIView::create({5, 7, 40, 30});
  window->addSubview(outer);
  outer->addSubview(middle);
  middle->addSubview(inner);
  outer->setTransform(CGAffineTransform::makeTranslation(13, -7));
  middle->setTransform(CGAffineTransform::makeScale(1.5, 0.75).rotatedBy(0.3));
  inner->setTransform(CGAffineTransform::makeRotation(-1.1).translatedBy(3, 4));
  outer->setBounds({{2, 3}, outer->bounds().size});

  const CGPoint points[] = {{0, 0}, {12.5, -3.25}, {40, 30}, {1e3, -2e3}};
  for (CGPoint p : points) {
    CGPoint inWindow = inner->convertPointToView(p, nullptr);
    CGPoint back = inner->convertPointFromView(inWindow, window.get());
    EXPECT_NEAR(back.x, p.x, 1e-9);
    EXPECT_NEAR(back.y, p.y, 1e-9);
    // Through a sibling branch too.
    CGPoint inOuter = inner->convertPointToView(p, outer.get());
    CGPoint again = outer->convertPointToView(inOuter, inner.get());
    EXPECT_NEAR(again.x, p.x, 1e-9);
    EXPECT_NEAR(again.y, p.y, 1e-9);
  }
  // A pure translation moves the origin by exactly the offsets on the way.
  auto plain = UIView::create({10, 10, 50, 50});
  window->addSubview(plain);
  plain->setTransform(CGAffineTransform::makeTranslation(5, 0));
  EXPECT_EQ(plain->convertPointToView({0, 0}, nullptr), (CGPoint{15, 10}));
  EXPECT_EQ(plain->frame(), CGRect(15, 10, 50, 50));
}

TEST(ViewTests, SafeAreaInsetsAreTheCoveredPartOfTheView) {
  auto window = UIWindow::create({0, 0, 390, 844});
  window->setWindowSafeAreaInsets({47, 0, 34, 0});
  struct Case {
    const char* name;
    CGRect frame;
    UIEdgeInsets expected;
  };
  const Case cases[] = {
      {"full screen", {0, 0, 390, 844}, {47, 0, 34, 0}},
      {"below the notch", {0, 100, 390, 300}, {0, 0, 0, 0}},
      {"straddling the top", {0, 20, 390, 100}, {27, 0, 0, 0}},
      {"at the bottom", {0, 800, 390, 44}, {0, 0, 34, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto view = UIView::create(c.frame);
    window->addSubview(view);
    EXPECT_EQ(view->safeAreaInsets(), c.expected);
    EXPECT_EQ(view->effectiveLayoutMargins(), (c.expected + UIEdgeInsets{8, 8, 8, 8}));
    view->insetsLayoutMarginsFromSafeArea = false;
    EXPECT_EQ(view->effectiveLayoutMargins(), (UIEdgeInsets{8, 8, 8, 8}));
  }
  // A transform that slides a view away leaves its insets as layout placed it.
  auto sliding = UIView::create({0, 0, 390, 100});
  window->addSubview(sliding);
  sliding->setTransform(CGAffineTransform::makeTranslation(0, -200));
  EXPECT_EQ(sliding->safeAreaInsets(), (UIEdgeInsets{47, 0, 0, 0}));
  auto outside = UIView::create({0, 0, 10, 10});
  EXPECT_EQ(outside->safeAreaInsets(), UIEdgeInsets{});
}

TEST(ViewTests, HooksFollowWindowsTraitsAndTint) {
  struct Hooked : UIView {
    std::vector<std::string> calls;
    void didMoveToWindow() override { calls.push_back(window() ? "window" : "no window"); }
    void traitCollectionDidChange(const UITraitCollection& previous) override {
      calls.push_back("traits " + std::to_string(static_cast<int>(previous.userInterfaceStyle)) + "->" +
                      std::to_string(static_cast<int>(traitCollection().userInterfaceStyle)));
    }
    void tintColorDidChange() override { calls.push_back("tint"); }
  };
  auto window = UIWindow::create({0, 0, 100, 100});
  auto parent = UIView::create({0, 0, 50, 50});
  auto view = std::make_shared<Hooked>();
  parent->addSubview(view);
  view->calls.clear();

  window->setTintColor(UIColor::grayColor());
  window->addSubview(parent);
  EXPECT_EQ(view->calls, (std::vector<std::string>{"window", "traits 0->1", "tint"}));
  view->calls.clear();
  auto sameTint = UIView::create();
  window->addSubview(sameTint);
  sameTint->addSubview(parent);  // a new place with the same inherited tint
  EXPECT_EQ(view->calls, std::vector<std::string>{});
  window->addSubview(parent);

  view->calls.clear();
  window->setOverrideUserInterfaceStyle(UIUserInterfaceStyle::Dark);
  parent->setTintColor(UIColor::redColor());
  EXPECT_EQ(view->calls, (std::vector<std::string>{"traits 1->2", "tint"}));
  EXPECT_EQ(view->tintColor(), UIColor::redColor());
  // Dynamic colours resolve by the view's style.
  view->setBackgroundColor(UIColor::labelColor());
  EXPECT_EQ(view->layer()->backgroundColor(), UIColor::whiteColor());
  view->setOverrideUserInterfaceStyle(UIUserInterfaceStyle::Light);
  EXPECT_EQ(view->layer()->backgroundColor(), UIColor::blackColor());

  view->calls.clear();
  parent->removeFromSuperview();
  EXPECT_EQ(view->calls.front(), "no window");
}

TEST(ViewTests, SubviewOrderIsMirroredByLayers) {
  auto root = UIView::create({0, 0, 10, 10});
  auto a = UIView::create(), b = UIView::create(), c = UIView::create();
  root->addSubview(a);
  root->addSubview(b);
  root->insertSubviewBelow(c, a.get());
  root->bringSubviewToFront(a.get());
  const std::vector<std::shared_ptr<UIView>> expected{c, b, a};
  EXPECT_EQ(root->subviews(), expected);
  ASSERT_EQ(root->layer()->sublayers().size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(root->layer()->sublayers()[i], expected[i]->layer());
  root->sendSubviewToBack(b.get());
  EXPECT_EQ(root->subviews().front(), b);
  EXPECT_EQ(root->layer()->sublayers().front(), b->layer());
  EXPECT_TRUE(a->isDescendantOfView(root.get()));
  a->removeFromSuperview();
  EXPECT_FALSE(a->isDescendantOfView(root.get()));
  EXPECT_EQ(root->layer()->sublayers().size(), 2u);
}

TEST(ViewTests, ColoursKeepHueThroughSaturationChanges) {
  UIColor accent(1.0, 56 / 255.0, 36 / 255.0);
  double h, s, b, a;
  accent.withSaturation(0.2).getHSBA(h, s, b, a);
  double h0, s0, b0, a0;
  accent.getHSBA(h0, s0, b0, a0);
  EXPECT_NEAR(h, h0, 1e-12);
  EXPECT_NEAR(s, 0.2, 1e-12);
  EXPECT_NEAR(b, b0, 1e-12);
  EXPECT_EQ(accent.withSaturation(s0), accent);
  // Grey has no hue: desaturating keeps it grey.
  EXPECT_EQ(UIColor::grayColor().withSaturation(0.2), UIColor::grayColor().withSaturation(0.2));
  EXPECT_EQ(UIColor::white(0.5).withSaturation(0.2), UIColor(0.5, 0.4, 0.4));
}

TEST(ViewTests, PathBoundsCoverArcsAsDrawn) {
  struct Case {
    const char* name;
    UIBezierPath path;
    CGRect expected;
  };
  const Case cases[] = {
      {"full circle from the top", UIBezierPath::arc({20, 20}, 10, -kPi / 2, 3 * kPi / 2, true), {10, 10, 20, 20}},
      {"quarter arc", UIBezierPath::arc({0, 0}, 10, 0, kPi / 2, true), {0, 0, 10, 10}},
      {"dot", UIBezierPath::arc({5, 6}, 0, 0, 2 * kPi, true), {5, 6, 0, 0}},
      {"rounded rect", UIBezierPath::roundedRect({1, 2, 30, 20}, 5), {1, 2, 30, 20}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CGRect r = c.path.bounds();
    EXPECT_NEAR(r.origin.x, c.expected.origin.x, 1e-9);
    EXPECT_NEAR(r.origin.y, c.expected.origin.y, 1e-9);
    EXPECT_NEAR(r.size.width, c.expected.size.width, 1e-9);
    EXPECT_NEAR(r.size.height, c.expected.size.height, 1e-9);
  }
  // Rounded corners never exceed half the shorter side, so radii too large still give the shape.
  EXPECT_EQ(UIBezierPath::roundedRect({0, 0, 10, 4}, 50), UIBezierPath::roundedRect({0, 0, 10, 4}, 2));
}

}  // namespace
}  // namespace uikit
