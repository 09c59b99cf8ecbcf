#include <gtest/gtest.h>

#include <cmath>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Animation.h"
#include "platform/uikit/DisplayLink.h"
#include "platform/uikit/DynamicAnimator.h"
#include "platform/uikit/View.h"
#include "testing/ScopedManualClock.h"

namespace uikit {
namespace {

class DynamicsTests : public ::testing::Test {
 protected:
  void SetUp() override { dispatch::drainMainQueue(); }
  void advance(double seconds, int steps = 1) {
    for (int i = 0; i < steps; ++i) {
      clock_->advance(seconds / steps);
      dispatch::drainMainQueue();
    }
  }
  testing_support::ScopedManualClock clock_;
};

TEST_F(DynamicsTests, DisplayLinkFiresOncePerFrameUntilInvalidated) {
  std::vector<double> stamps;
  auto link = CADisplayLink::create([&](CADisplayLink& l) { stamps.push_back(l.timestamp()); });
  link->addToMainRunLoop();
  advance(0.05, 50);
  ASSERT_EQ(stamps.size(), 3u);  // frames at 1/60, 2/60 and 3/60
  EXPECT_DOUBLE_EQ(stamps[2], 3.0 / 60);
  link->setPaused(true);
  advance(0.1, 10);
  EXPECT_EQ(stamps.size(), 3u);
  link->setPaused(false);
  link->invalidate();
  advance(0.1, 10);
  EXPECT_EQ(stamps.size(), 3u);
}

TEST_F(DynamicsTests, ThrownItemMovesInFixedStepsAndStopsWhenBehavioursGo) {
  auto container = UIView::create({0, 0, 400, 400});
  auto item = UIView::create({100, 100, 50, 50});
  container->addSubview(item);
  auto animator = UIDynamicAnimator::create(container);
  auto motion = UIDynamicItemBehavior::create({item});
  motion->addLinearVelocity({600, 0}, item.get());
  motion->addAngularVelocity(6, item.get());
  int steps = 0;
  motion->action = [&] { ++steps; };
  animator->addBehavior(motion);

  advance(0.5, 30);
  EXPECT_EQ(steps, 30);
  EXPECT_NEAR(item->center().x, 125 + 300, 1e-6);
  EXPECT_NEAR(std::atan2(item->transform().b, item->transform().a), 3.0, 1e-6);

  animator->removeAllBehaviors();
  CGPoint frozen = item->center();
  advance(0.5, 30);
  EXPECT_EQ(item->center(), frozen);
  EXPECT_EQ(steps, 30);

  // An attached item follows its anchor.
  auto attachment = UIAttachmentBehavior::create(item, {5, 0}, {200, 200});
  animator->addBehavior(attachment);
  attachment->anchorPoint = {250, 220};
  advance(1.0 / 60);
  EXPECT_EQ(item->center(), (CGPoint{245, 220}));
}

}  // namespace
}  // namespace uikit
