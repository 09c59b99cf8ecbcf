#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "AnimationStage.h"
#include "MessageBanners/TopBottomAnimation.h"
#include "platform/uikit/GestureRecognizer.h"

namespace MessageBanners {
namespace {

using State = uikit::UIGestureRecognizerState;
using Style = TopBottomAnimation::Style;

class TopBottomAnimationTests : public testing_support::AnimationStage {
 protected:
  std::shared_ptr<TopBottomAnimation> shown(Style style) {
    auto animation = TopBottomAnimation::create(style, delegate_);
    bool done = false;
    animation->show(AnimationContext(message_, container_, {}, true), [&](bool c) { done = c; });
    advance(animation->showDuration());
    EXPECT_TRUE(done);
    return animation;
  }
  /// A drag by `dy` (window axes) released at `speed`, in the drag's direction.
  void drag(TopBottomAnimation& animation, double dy, double speed) {
    auto& pan = *animation.panGestureRecognizer();
    pan.drive(State::Began, {0, 0}, {0, 0}, {100, 50});
    pan.drive(State::Changed, {0, dy}, {0, dy < 0 ? -speed : speed}, {100, 50 + dy});
    pan.drive(State::Ended, {0, dy}, {0, dy < 0 ? -speed : speed}, {100, 50 + dy});
  }
};

TEST_F(TopBottomAnimationTests, SlidesInFromItsEdgeAndOutAgain) {
  for (auto style : {Style::Top, Style::Bottom}) {
    SCOPED_TRACE(style == Style::Top ? "top" : "bottom");
    auto animation = TopBottomAnimation::create(style, delegate_);
    animation->show(AnimationContext(message_, container_, {}, true), {});
    // Pinned past the edge by the bounce offset, and moved off screen by its height first.
    EXPECT_EQ(message_->frame().height(), 100);
    EXPECT_EQ(style == Style::Top ? message_->layer()->frame().minY() : container_->bounds().maxY() - message_->layer()->frame().maxY(), -5);
    auto spring = message_->layer()->animationForKey("transform");
    ASSERT_TRUE(spring);
    EXPECT_EQ(spring->duration, 0.4);
    advance(0.4);
    EXPECT_EQ(message_->transform().ty, 0);

    bool hidden = false;
    animation->hide(AnimationContext(message_, container_, {}, true), [&](bool c) { hidden = c; });
    EXPECT_EQ(message_->transform().ty, style == Style::Top ? -100 : 849 + 100);
    advance(0.2);
    EXPECT_TRUE(hidden);
    message_->removeFromSuperview();
  }
}

TEST_F(TopBottomAnimationTests, DragTowardsTheEdgeDismissesPastAnyThreshold) {
  struct Case {
    const char* name;
    double towardsEdge, speed;
    bool dismisses;
  };
  // 95-point height: 0.33 of it is 31.35, so the percentage decides before the absolute distance.
  const Case cases[] = {
      {"slow 31 points", 31, 10, false},
      {"slow 32 points (percent)", 32, 10, true},
      {"fling at 751 after 5 points", 5, 751, true},
      {"fling at 750 is not enough", 5, 750, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (auto style : {Style::Top, Style::Bottom}) {
      delegate_->log.clear();
      auto animation = shown(style);
      drag(*animation, style == Style::Top ? -c.towardsEdge : c.towardsEdge, c.speed);
      advance(0.4);
      EXPECT_EQ(delegate_->log, c.dismisses ? (std::vector<std::string>{"panStarted", "hide"})
                                            : (std::vector<std::string>{"panStarted", "panEnded"}));
      if (!c.dismisses) {
        EXPECT_EQ(message_->transform().ty, 0);
      }
      message_->removeFromSuperview();
    }
  }
}

TEST_F(TopBottomAnimationTests, AbsoluteDistanceDecidesForATallMessage) {
  message_ = BaseView::create();
  message_->heightAnchor().constraintEqualToConstant(400)->setActive(true);
  for (auto [distance, dismisses] : {std::pair{75.0, false}, std::pair{76.0, true}}) {
    delegate_->log.clear();
    auto animation = shown(Style::Top);
    // 76 / 395 stays below the percentage threshold: only the 75-point rule can dismiss.
    drag(*animation, -distance, 10);
    advance(0.4);
    EXPECT_EQ(delegate_->log.back(), dismisses ? "hide" : "panEnded") << distance;
    message_->removeFromSuperview();
  }
}

TEST_F(TopBottomAnimationTests, DragAwayFromTheEdgeMovesNothingUnlessTheBackgroundStopsShort) {
  auto animation = shown(Style::Top);
  drag(*animation, 40, 10);
  // Never moved, never started; the release still springs back and reports the end.
  EXPECT_EQ(delegate_->log, std::vector<std::string>{});
  advance(0.4);
  EXPECT_EQ(delegate_->log, std::vector<std::string>{"panEnded"});
  message_->removeFromSuperview();

  // A background inset from the top edge lets the message follow with resistance.
  auto background = uikit::UIView::create();
  message_->installBackground(background, {10, 0, 0, 0});
  message_->layoutIfNeeded();
  delegate_->log.clear();
  animation = shown(Style::Top);
  animation->panGestureRecognizer()->drive(State::Changed, {0, 40}, {0, 10}, {100, 90});
  EXPECT_NEAR(message_->transform().ty, std::pow(40.0, 0.7), 1e-9);
  EXPECT_EQ(delegate_->log, std::vector<std::string>{"panStarted"});
}

TEST_F(TopBottomAnimationTests, MessageNoTallerThanTheBounceOffsetIgnoresDrags) {
  message_ = BaseView::create();
  message_->heightAnchor().constraintEqualToConstant(5)->setActive(true);
  auto animation = shown(Style::Bottom);
  animation->panGestureRecognizer()->drive(State::Changed, {0, 50}, {0, 2000}, {100, 840});
  EXPECT_EQ(message_->transform().ty, 0);
  EXPECT_TRUE(delegate_->log.empty());
}

}  // namespace
}  // namespace MessageBanners
