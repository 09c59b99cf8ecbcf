#include <gtest/gtest.h>

#include <cmath>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Animation.h"
#include "platform/uikit/Transaction.h"
#include "platform/uikit/View.h"
#include "testing/ScopedManualClock.h"

namespace uikit {
namespace {

class AnimationTests : public ::testing::Test {
 protected:
  void SetUp() override { dispatch::drainMainQueue(); }
  /// Moves the clock and runs what became due on the main queue.
  void advance(double seconds) {
    clock_->advance(seconds);
    dispatch::drainMainQueue();
  }
  testing_support::ScopedManualClock clock_;
};

double numberAt(const CALayer& layer, const std::string& keyPath, double time) {
  return numberOf(layer.presentationValue(keyPath, time)).value_or(NAN);
}

TEST_F(AnimationTests, BlockSetsModelAtOnceAndCompletesAtItsEnd) {
  auto view = UIView::create({0, 0, 100, 100});
  std::vector<bool> done;
  UIView::animate(0.4, [&] {
    view->setAlpha(0);
    view->setCenter({80, 90});
  }, [&](bool finished) { done.push_back(finished); });

  EXPECT_EQ(view->alpha(), 0);
  EXPECT_EQ(view->center(), (CGPoint{80, 90}));
  EXPECT_EQ(view->layer()->animationKeys(), (std::vector<std::string>{"opacity", "position"}));
  auto opacity = std::dynamic_pointer_cast<const CABasicAnimation>(view->layer()->animationForKey("opacity"));
  ASSERT_TRUE(opacity);
  EXPECT_EQ(opacity->fromValue, AnimationValue(1.0));
  EXPECT_EQ(opacity->toValue, AnimationValue(0.0));
  EXPECT_EQ(opacity->duration, 0.4);
  EXPECT_EQ(opacity->timingFunction, CAMediaTimingFunction(CAMediaTimingFunction::Name::EaseInEaseOut));

  advance(0.2);
  EXPECT_TRUE(done.empty());
  EXPECT_NEAR(numberAt(*view->layer(), "opacity", CACurrentMediaTime()), 0.5, 1e-9);
  advance(0.19);
  EXPECT_TRUE(done.empty());
  advance(0.01);
  ASSERT_EQ(CACurrentMediaTime(), 0.4);
  EXPECT_EQ(done, std::vector<bool>{true});
  EXPECT_TRUE(view->layer()->animationKeys().empty());
}

TEST_F(AnimationTests, RemovedAnimationsCompleteUnfinished) {
  struct Case {
    const char* name;
    std::function<void(CALayer&)> remove;
  };
  const Case cases[] = {
      {"remove all", [](CALayer& l) { l.removeAllAnimations(); }},
      {"remove by key", [](CALayer& l) { l.removeAnimation("opacity"); }},
      {"replaced under the same key",
       [](CALayer& l) { l.addAnimation(CABasicAnimation::create("opacity"), "opacity"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto view = UIView::create({0, 0, 10, 10});
    std::vector<bool> done;
    UIView::animate(0.4, [&] { view->setAlpha(0.5); }, [&](bool finished) { done.push_back(finished); });
    advance(0.1);
    c.remove(*view->layer());
    advance(0);
    EXPECT_EQ(done, std::vector<bool>{false});
    advance(1);
    EXPECT_EQ(done.size(), 1u);
  }
}

TEST_F(AnimationTests, EmptyBlockCompletesOnTheNextTurn) {
  bool done = false;
  UIView::animate(0.4, [] {}, [&](bool finished) { done = finished; });
  EXPECT_FALSE(done);
  advance(0);
  EXPECT_TRUE(done);
}

TEST_F(AnimationTests, TransactionCompletesWhenItsLastAnimationEnds) {
  auto layer = CALayer::create();
  double completedAt = -1;
  CATransaction::begin();
  CATransaction::setCompletionBlock([&] { completedAt = CACurrentMediaTime(); });
  auto longer = CABasicAnimation::create("opacity");
  longer->duration = 0.5;
  auto shorter = CABasicAnimation::create("position");
  shorter->duration = 0.15;
  layer->addAnimation(longer, "a");
  // A view-animation block inside the transaction counts too.
  auto view = UIView::create({0, 0, 10, 10});
  UIView::animate(0.15, [&] { view->setAlpha(0); });
  layer->addAnimation(shorter, "b");
  CATransaction::commit();

  advance(0.15);
  EXPECT_EQ(completedAt, -1);
  advance(0.35);
  EXPECT_DOUBLE_EQ(completedAt, 0.5);

  bool emptyDone = false;
  CATransaction::begin();
  CATransaction::setCompletionBlock([&] { emptyDone = true; });
  CATransaction::commit();
  advance(0);
  EXPECT_TRUE(emptyDone);
}

TEST_F(AnimationTests, LayoutInsideABlockLeavesABoundsAnimationWithTheBlocksTiming) {
  auto root = UIView::create({0, 0, 300, 300});
  auto child = std::make_shared<UIView>();
  child->setTranslatesAutoresizingMaskIntoConstraints(false);
  root->addSubview(child);
  auto height = child->heightAnchor().constraintEqualToConstant(50);
  NSLayoutConstraint::activateConstraints({child->leftAnchor().constraintEqualTo(root->leftAnchor()),
                                           child->topAnchor().constraintEqualTo(root->topAnchor()),
                                           child->widthAnchor().constraintEqualToConstant(100), height});
  root->layoutIfNeeded();
  EXPECT_TRUE(child->layer()->animationKeys().empty());

  height->setConstant(80);
  UIView::animate(0.3, 0, UIViewAnimationOptionCurveLinear, [&] { root->layoutIfNeeded(); });
  auto bounds = std::dynamic_pointer_cast<const CABasicAnimation>(child->layer()->animationForKey("bounds.size"));
  ASSERT_TRUE(bounds);
  EXPECT_EQ(bounds->duration, 0.3);
  EXPECT_EQ(bounds->timingFunction, CAMediaTimingFunction(CAMediaTimingFunction::Name::Linear));
  EXPECT_EQ(bounds->fromValue, AnimationValue(CGSize{100, 50}));
  EXPECT_EQ(bounds->toValue, AnimationValue(CGSize{100, 80}));
  EXPECT_EQ(child->frame(), CGRect(0, 0, 100, 80));
  advance(0.3);
  EXPECT_FALSE(child->layer()->animationForKey("bounds.size"));
}

TEST_F(AnimationTests, PresentationValuesFollowTimingDelayRepeatAndGroups) {
  auto layer = CAShapeLayer::create();
  layer->setStrokeEnd(1);

  auto delayed = CABasicAnimation::create("strokeEnd");
  delayed->fromValue = 0.0;
  delayed->toValue = 1.0;
  delayed->duration = 1;
  delayed->beginTime = CACurrentMediaTime() + 1;
  delayed->timingFunction = CAMediaTimingFunction(CAMediaTimingFunction::Name::EaseOut);
  layer->addAnimation(delayed, "delayed");

  auto spin = CABasicAnimation::create("transform.rotation");
  spin->fromValue = 0.0;
  spin->toValue = 2 * kPi;
  spin->duration = 4;
  spin->repeatCount = kRepeatForever;
  layer->addAnimation(spin, "spin");

  auto group = CAAnimationGroup::create();
  auto first = CABasicAnimation::create("strokeStart");
  first->fromValue = 0.0;
  first->toValue = 0.5;
  first->duration = 1;
  auto second = CABasicAnimation::create("strokeStart");
  second->fromValue = 0.5;
  second->toValue = 1.0;
  second->beginTime = 1;
  second->duration = 1;
  group->animations = {first, second};
  group->duration = 2;
  group->repeatCount = kRepeatForever;
  layer->addAnimation(group, "group");

  EXPECT_EQ(numberAt(*layer, "strokeEnd", 0.5), 1.0);  // before its begin: the model value
  EXPECT_NEAR(numberAt(*layer, "strokeEnd", 1.5), CAMediaTimingFunction(CAMediaTimingFunction::Name::EaseOut).evaluate(0.5), 1e-12);
  EXPECT_NEAR(numberAt(*layer, "transform.rotation", 1), kPi / 2, 1e-12);
  EXPECT_NEAR(numberAt(*layer, "transform.rotation", 9), kPi / 2, 1e-9);  // third cycle
  auto t = std::get<CATransform3D>(layer->presentationValue("transform", 1));
  EXPECT_NEAR(t.m12, 1.0, 1e-12);
  EXPECT_NEAR(numberAt(*layer, "strokeStart", 0.5), 0.25, 1e-12);
  EXPECT_NEAR(numberAt(*layer, "strokeStart", 1.5), 0.75, 1e-12);
  EXPECT_NEAR(numberAt(*layer, "strokeStart", 2.5), 0.25, 1e-12);  // the group repeats

  advance(2);
  EXPECT_EQ(layer->animationKeys(), (std::vector<std::string>{"spin", "group"}));
  advance(1000);
  EXPECT_EQ(layer->animationKeys(), (std::vector<std::string>{"spin", "group"}));
}

TEST_F(AnimationTests, KeyframesAndSpringsReachTheirValues) {
  auto layer = CALayer::create();
  auto keyframes = CAKeyframeAnimation::create("opacity");
  keyframes->values = {0.0, 1.0, 0.5};
  keyframes->keyTimes = {0, 0.25, 1};
  keyframes->duration = 1;
  layer->addAnimation(keyframes, "k");
  EXPECT_NEAR(numberAt(*layer, "opacity", 0.125), 0.5, 1e-12);
  EXPECT_NEAR(numberAt(*layer, "opacity", 0.625), 0.75, 1e-12);

  auto view = UIView::create({0, 0, 10, 10});
  bool done = false;
  UIView::animateWithSpring(0.5, 0, 0.6, 0, 0, [&] { view->setCenter({100, 0}); }, [&](bool f) { done = f; });
  auto spring = std::dynamic_pointer_cast<const CASpringAnimation>(view->layer()->animationForKey("position"));
  ASSERT_TRUE(spring);
  EXPECT_EQ(spring->dampingRatio, 0.6);
  // An underdamped spring overshoots on the way.
  double most = 0;
  for (int i = 1; i < 50; ++i)
    most = std::max(most, std::get<CGPoint>(view->layer()->presentationValue("position", i * 0.01)).x);
  EXPECT_GT(most, 100);
  EXPECT_NEAR(std::get<CGPoint>(view->layer()->presentationValue("position", 0.4999)).x, 100, 0.5);
  advance(0.5);
  EXPECT_TRUE(done);
}

TEST_F(AnimationTests, FillModesHoldValuesOutsideTheActiveTime) {
  // A delayed view animation shows its start value until it begins, then runs, then leaves.
  auto view = UIView::create({0, 0, 10, 10});
  UIView::animate(1, 0.5, UIViewAnimationOptionCurveLinear, [&] { view->setAlpha(0); });
  struct Probe {
    double time, opacity;
  };
  for (Probe p : {Probe{0.25, 1.0}, Probe{1.0, 0.5}, Probe{1.6, 0.0}}) {
    SCOPED_TRACE(p.time);
    EXPECT_NEAR(numberAt(*view->layer(), "opacity", p.time), p.opacity, 1e-12);
  }

  auto layer = CALayer::create();
  auto held = CABasicAnimation::create("opacity");
  held->fromValue = 0.2;
  held->toValue = 0.8;
  held->duration = 1;
  held->removedOnCompletion = false;
  held->fillMode = CAFillMode::Forwards;
  layer->addAnimation(held, "held");
  advance(5);
  EXPECT_EQ(layer->animationKeys(), std::vector<std::string>{"held"});
  EXPECT_NEAR(numberAt(*layer, "opacity", CACurrentMediaTime()), 0.8, 1e-12);
}

}  // namespace
}  // namespace uikit
