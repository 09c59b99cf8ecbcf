#include <gtest/gtest.h>

#include "MessageBanners/BaseView.h"
#include "MessageBanners/CornerRoundingView.h"
#include "MessageBanners/KeyboardTrackingView.h"
#include "MessageBanners/MaskingView.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Animation.h"
#include "platform/uikit/Window.h"
#include "testing/ScopedManualClock.h"

namespace MessageBanners {
namespace {

using uikit::CGRect;
using uikit::UIBezierPath;

class MaskingTests : public ::testing::Test {
 protected:
  void SetUp() override { dispatch::drainMainQueue(); }
  void TearDown() override { dispatch::drainMainQueue(); }
  testing_support::ScopedManualClock clock_;
};

UIBezierPath rounded(const CGRect& rect, double radius) {
  return UIBezierPath::roundedRect(rect, uikit::UIRectCornerAllCorners, {radius, radius});
}

/// The card's mask outline moved into the message view, as the shadow takes it.
UIBezierPath movedBy10(UIBezierPath path) {
  path.applyTransform(uikit::CGAffineTransform::makeTranslation(10, 0));
  return path;
}

/// The constraints that keep `view` above the tracking view.
std::vector<uikit::NSLayoutConstraint*> keyboardConstraints(const KeyboardTrackingView& tracking, const uikit::UIView& view) {
  std::vector<uikit::NSLayoutConstraint*> found;
  for (auto* c : tracking.referencingConstraints()) {
    if (c->firstAttribute() == uikit::NSLayoutAttribute::Top && c->secondItem() == &view) found.push_back(c);
  }
  return found;
}

TEST_F(MaskingTests, CornerRoundingMaskFollowsRadiusAndCorners) {
  auto view = CornerRoundingView::create({0, 0, 200, 60});
  EXPECT_EQ(view->layer()->mask(), view->shapeLayer());
  EXPECT_EQ(view->roundedCorners(), uikit::UIRectCornerAllCorners);
  EXPECT_EQ(view->cornerRadius(), 0);

  view->setCornerRadius(12);
  EXPECT_EQ(view->shapeLayer()->path(), rounded({0, 0, 200, 60}, 12));
  view->setRoundsLeadingCorners(true);
  EXPECT_EQ(view->shapeLayer()->path(), rounded({0, 0, 200, 60}, 12));
  view->setRoundedCorners(uikit::UIRectCornerBottomLeft | uikit::UIRectCornerBottomRight);
  EXPECT_EQ(view->shapeLayer()->path(),
            UIBezierPath::roundedRect({0, 0, 200, 60}, uikit::UIRectCornerBottomLeft | uikit::UIRectCornerBottomRight,
                                      {12, 12}));
  EXPECT_TRUE(view->shapeLayer()->animationKeys().empty());
}

TEST_F(MaskingTests, MaskAndShadowPathsFollowAnAnimatedResize) {
  auto window = uikit::UIWindow::create({0, 0, 390, 844});
  auto message = BaseView::create({0, 100, 390, 120});
  auto card = CornerRoundingView::create();
  card->setCornerRadius(12);
  message->installEdgePinnedBackground(card, {});
  message->setSideLayoutMargins(10);
  message->applyDropShadow();
  window->addSubview(message);
  window->layoutIfNeeded();
  EXPECT_EQ(card->frame(), (CGRect{10, 0, 370, 120}));
  EXPECT_EQ(card->shapeLayer()->path(), rounded({0, 0, 370, 120}, 12));
  EXPECT_EQ(message->layer()->shadowPath(), movedBy10(rounded({0, 0, 370, 120}, 12)));
  EXPECT_TRUE(message->layer()->animationKeys().empty());

  uikit::UIView::animate(0.3, [&] {
    message->setFrame({0, 100, 390, 200});
    window->layoutIfNeeded();
  });
  auto resize = runningBasicAnimation(*message->layer(), "bounds.size");
  ASSERT_TRUE(resize);
  auto mask = std::dynamic_pointer_cast<const uikit::CABasicAnimation>(card->shapeLayer()->animationForKey("path"));
  auto shadow = std::dynamic_pointer_cast<const uikit::CABasicAnimation>(message->layer()->animationForKey("shadowPath"));
  ASSERT_TRUE(mask);
  ASSERT_TRUE(shadow);
  for (const auto* animation : {mask.get(), shadow.get()}) {
    EXPECT_EQ(animation->duration, 0.3);
    EXPECT_EQ(animation->timingFunction, resize->timingFunction);
  }
  EXPECT_EQ(mask->fromValue, uikit::AnimationValue(rounded({0, 0, 370, 120}, 12)));
  EXPECT_EQ(mask->toValue, uikit::AnimationValue(rounded({0, 0, 370, 200}, 12)));
  EXPECT_EQ(shadow->fromValue, uikit::AnimationValue(movedBy10(rounded({0, 0, 370, 120}, 12))));
  EXPECT_EQ(shadow->toValue, uikit::AnimationValue(movedBy10(rounded({0, 0, 370, 200}, 12))));
  EXPECT_EQ(card->shapeLayer()->path(), rounded({0, 0, 370, 200}, 12));
  EXPECT_EQ(message->layer()->shadowPath(), movedBy10(rounded({0, 0, 370, 200}, 12)));

  clock_->advance(0.3);
  dispatch::drainMainQueue();
  // Without an animated resize the paths change at once.
  message->setFrame({0, 100, 390, 150});
  window->layoutIfNeeded();
  EXPECT_TRUE(card->shapeLayer()->animationKeys().empty());
  EXPECT_TRUE(message->layer()->animationKeys().empty());
  EXPECT_EQ(message->layer()->shadowPath(), movedBy10(rounded({0, 0, 370, 150}, 12)));
}

TEST_F(MaskingTests, AddedViewsStayAboveTheTrackingView) {
  auto masking = MaskingView::create();
  EXPECT_TRUE(masking->clipsToBounds());
  auto early = uikit::UIView::create();
  masking->addSubview(early);
  EXPECT_TRUE(early->constraints().empty());
  EXPECT_TRUE(masking->constraints().empty());

  auto tracking = KeyboardTrackingView::create();
  masking->installKeyboardTracking(tracking);
  EXPECT_EQ(masking->keyboardTrackingView(), tracking);
  EXPECT_EQ(tracking->superview(), masking);
  auto dimming = uikit::UIView::create();
  masking->setBackgroundView(dimming);
  masking->addSubview(dimming);
  EXPECT_TRUE(keyboardConstraints(*tracking, *dimming).empty());

  struct Case {
    const char* name;
    std::shared_ptr<uikit::UIView> view;
    double constant;
  } cases[] = {
      {"message view keeps its bounce", BaseView::create(), -5},
      {"plain view", uikit::UIView::create(), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    masking->addSubview(c.view);
    auto found = keyboardConstraints(*tracking, *c.view);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->relation(), uikit::NSLayoutRelation::GreaterThanOrEqual);
    EXPECT_EQ(found[0]->secondAttribute(), uikit::NSLayoutAttribute::Bottom);
    EXPECT_EQ(found[0]->constant(), c.constant);
    EXPECT_EQ(found[0]->priority(), 250);
  }
}

TEST_F(MaskingTests, AccessibilityElementsByIndex) {
  auto masking = MaskingView::create();
  auto first = uikit::UIView::create(), second = uikit::UIView::create(), stranger = uikit::UIView::create();
  masking->accessibleElements = {first, second};
  EXPECT_EQ(masking->accessibilityElementCount(), 2u);
  EXPECT_EQ(masking->accessibilityElementAtIndex(1), second);
  EXPECT_EQ(masking->accessibilityElementAtIndex(2), nullptr);
  EXPECT_EQ(masking->indexOfAccessibilityElement(second.get()), 1u);
  EXPECT_EQ(masking->indexOfAccessibilityElement(stranger.get()), NSNotFound);
  EXPECT_EQ(masking->indexOfAccessibilityElement(nullptr), NSNotFound);
}

}  // namespace
}  // namespace MessageBanners
