#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "AnimationStage.h"
#include "MessageBanners/PhysicsAnimation.h"
#include "platform/uikit/DynamicAnimator.h"
#include "platform/uikit/GestureRecognizer.h"

namespace MessageBanners {
namespace {

using State = uikit::UIGestureRecognizerState;
using uikit::CGAffineTransform;

/// The stage with its message shown, centred, by the physics animator.
class PhysicsAnimationTests : public testing_support::AnimationStage {
 protected:
  void SetUp() override {
    AnimationStage::SetUp();
    animation_ = PhysicsAnimation::create(delegate_);
    animation_->show(AnimationContext(message_, container_, {}, true), [this](bool c) { shown_ = c; });
  }
  uikit::UIPanGestureRecognizer& pan() { return *animation_->panHandler->pan(); }

  std::shared_ptr<PhysicsAnimation> animation_;
  bool shown_ = false;
};

TEST_F(PhysicsAnimationTests, PopsInAtTheCentreAndShrinksOut) {
  EXPECT_EQ(message_->frame().midY(), 422);
  EXPECT_EQ(message_->layer()->animationForKey("transform")->duration, 0.5);
  EXPECT_NEAR(message_->layer()->animationForKey("opacity")->duration, 0.15, 1e-12);
  advance(0.5);
  EXPECT_TRUE(shown_);
  EXPECT_EQ(message_->alpha(), 1);

  bool hidden = false;
  animation_->hide(AnimationContext(message_, container_, {}, true), [&](bool c) { hidden = c; });
  EXPECT_EQ(message_->alpha(), 0);
  advance(0.15);
  EXPECT_TRUE(hidden);
  // Put back for the next use of the view.
  EXPECT_EQ(message_->alpha(), 1);
  EXPECT_EQ(message_->transform(), CGAffineTransform::identity());
}

TEST_F(PhysicsAnimationTests, SlowReleaseSpringsBackToRest) {
  advance(0.5);
  const auto rest = message_->center();
  pan().drive(State::Began, {0, 0}, {0, 0}, {195, 422});
  pan().drive(State::Changed, {0, 120}, {0, 599}, {195, 542});
  advance(0.1);
  EXPECT_GT(message_->center().y, rest.y + 50);
  pan().drive(State::Ended, {0, 120}, {0, 599}, {195, 542});
  EXPECT_EQ(delegate_->log, (std::vector<std::string>{"panStarted", "panEnded"}));
  EXPECT_FALSE(animation_->panHandler->state());
  advance(0.5);
  EXPECT_EQ(message_->center(), rest);
  advance(1);
  EXPECT_EQ(delegate_->log.size(), 2u);
}

TEST_F(PhysicsAnimationTests, FastThrowIsCappedAndHidesOnceAfterLeaving) {
  advance(0.5);
  pan().drive(State::Began, {0, 0}, {0, 0}, {195, 422});
  advance(0.05);
  message_->setTransform(CGAffineTransform::makeRotation(1.0));
  pan().drive(State::Changed, {0, 10}, {0, 3000}, {195, 432});
  pan().drive(State::Ended, {0, 10}, {0, 3000}, {195, 432});
  const auto& state = animation_->panHandler->state();
  ASSERT_TRUE(state);
  EXPECT_FALSE(state->attachmentBehavior());
  EXPECT_NEAR(state->itemBehavior()->linearVelocityForItem(message_.get()).y, 1800, 1e-9);
  EXPECT_NEAR(state->itemBehavior()->angularVelocityForItem(message_.get()), 10, 1e-6);

  // Flies out within half a second; the hide request follows 0.2 s later, exactly once.
  for (int i = 0; i < 30 && !animation_->panHandler->isOffScreen(); ++i) advance(1.0 / 60);
  ASSERT_TRUE(animation_->panHandler->isOffScreen());
  EXPECT_EQ(delegate_->log, std::vector<std::string>{"panStarted"});
  advance(0.2);
  advance(1);
  EXPECT_EQ(delegate_->log, (std::vector<std::string>{"panStarted", "hide"}));
}

TEST_F(PhysicsAnimationTests, PanOnAReleasedMessageIsIgnored) {
  auto handler = PhysicsPanHandler::create();
  auto recognizer = handler->pan();
  {
    auto gone = BaseView::create();
    container_->addSubview(gone);
    handler->configure(AnimationContext(gone, container_, {}, true), animation_);
    gone->removeFromSuperview();
  }
  for (auto s : {State::Began, State::Changed, State::Ended}) recognizer->drive(s, {0, 10}, {0, 3000}, {1, 1});
  EXPECT_TRUE(delegate_->log.empty());
  EXPECT_FALSE(handler->state());
}

}  // namespace
}  // namespace MessageBanners
