#include <gtest/gtest.h>

#include <cmath>

#include "app/screens/ActivityIndicatorButton.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Animation.h"
#include "testing/ScopedManualClock.h"

namespace fendrel {
namespace {

using namespace uikit;
using State = ActivityIndicatorButtonState;
using Style = ActivityIndicatorButtonProgressBarStyle;

UIBezierPath circle(CGPoint centre, CGFloat radius) { return UIBezierPath::arc(centre, radius, -kPi / 2, 3 * kPi / 2, true); }
UIBezierPath dot(CGPoint centre) { return UIBezierPath::arc(centre, 0, 0, 2 * kPi, true); }

State withProgress(Style style) {
  State s;
  s.progressBarStyle = style;
  return s;
}

std::shared_ptr<const CABasicAnimation> basic(const CALayer& layer, const std::string& key) {
  return std::dynamic_pointer_cast<const CABasicAnimation>(layer.animationForKey(key));
}

class ActivityIndicatorButtonTests : public ::testing::Test {
 protected:
  void SetUp() override {
    dispatch::drainMainQueue();
    button_ = ActivityIndicatorButton::create({0, 0, 44, 44});
    button_->layoutIfNeeded();
  }
  void advance(double seconds) {
    clock_->advance(seconds);
    dispatch::drainMainQueue();
  }
  testing_support::ScopedManualClock clock_;
  std::shared_ptr<ActivityIndicatorButton> button_;
};

TEST_F(ActivityIndicatorButtonTests, StartsWithDefaultsLaidOutByItsConstraints) {
  auto& b = *button_;
  EXPECT_EQ(b.subviews(), (std::vector<std::shared_ptr<UIView>>{b.backgroundView(), b.imageView(), b.progressView()}));
  EXPECT_EQ(b.renderedActivityState(), State());
  EXPECT_EQ(b.style(), ActivityIndicatorButtonStyle::solid);
  EXPECT_EQ(b.actionsForTarget(&b, UIControlEventTouchDown), std::vector<std::string>{"handleTouchDown:"});
  EXPECT_EQ(b.actionsForTarget(&b, UIControlEventTouchUpInside), std::vector<std::string>{"handleTouchUp:"});
  // Default widths: OUTER 1, INNER 4, IMAGE_PAD 9.
  EXPECT_EQ(b.progressView()->frame(), CGRect(1, 1, 42, 42));
  EXPECT_EQ(b.backgroundView()->frame(), CGRect(4, 4, 36, 36));
  EXPECT_EQ(b.imageView()->frame(), CGRect(9, 9, 26, 26));
  // The ring touches the progress view's edge; the disc, mask and shadow share its radius.
  EXPECT_EQ(b.progressLayer().path(), circle({21, 21}, 19.5));
  EXPECT_EQ(b.progressLayer().lineWidth(), 3.0);
  EXPECT_EQ(b.backgroundLayer().path(), circle({18, 18}, 18));
  EXPECT_EQ(b.imageViewMask()->path(), circle({13, 13}, 18));
  EXPECT_EQ(b.imageView()->layer()->mask(), b.imageViewMask());
  EXPECT_EQ(b.layer()->shadowPath(), circle({22, 22}, 18));
  EXPECT_EQ(b.layer()->shadowOffset(), (CGSize{0, 2}));
  EXPECT_EQ(b.layer()->shadowRadius(), 2.5);
  EXPECT_EQ(b.layer()->shadowOpacity(), 0.5);
  // Drawn at once: disc shown, ring hidden, nothing animating.
  EXPECT_EQ(b.backgroundLayer().opacity(), 1.0);
  EXPECT_EQ(b.progressLayer().opacity(), 0.0);
  EXPECT_TRUE(b.backgroundLayer().animationKeys().empty());
  EXPECT_EQ(b.backgroundLayer().fillColor(), UIColor::systemBlueColor());
}

TEST_F(ActivityIndicatorButtonTests, PathsBeforeTheFirstLayoutHaveNoNegativeRadius) {
  auto fresh = ActivityIndicatorButton::create();
  fresh->setProgressBarWidth(3);
  ASSERT_TRUE(fresh->progressLayer().path());
  EXPECT_EQ(fresh->progressLayer().path()->elements().front().radius, 0.0);
  EXPECT_EQ(fresh->backgroundLayer().path()->elements().front().radius, 0.0);
}

TEST_F(ActivityIndicatorButtonTests, WidthsSetTheInsetsAndTheNaturalSize) {
  struct Case {
    const char* name;
    CGFloat progress, track, padding;
    CGSize image;  // zero: no image
    CGRect background, imageFrame;
    CGSize intrinsic;
  };
  const Case cases[] = {
      {"defaults, no image", 3, 0, 5, {}, {4, 4, 36, 36}, {9, 9, 26, 26}, {35, 35}},
      {"defaults, small image", 3, 0, 5, {20, 20}, {4, 4, 36, 36}, {9, 9, 26, 26}, {53, 53}},
      {"track counts half for the disc", 2, 4, 1, {50, 10}, {5, 5, 34, 34}, {6, 6, 32, 32}, {66, 51}},
      {"widths never change the size without image", 6, 6, 6, {}, {10, 10, 24, 24}, {16, 16, 12, 12}, {35, 35}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto b = ActivityIndicatorButton::create({0, 0, 44, 44});
    b->setProgressBarWidth(c.progress);
    b->setTrackWidth(c.track);
    b->setMinimumImagePadding(c.padding);
    if (c.image.width > 0) b->setImage(UIImage::create(c.image));
    b->layoutIfNeeded();
    EXPECT_EQ(b->backgroundView()->frame(), c.background);
    EXPECT_EQ(b->imageView()->frame(), c.imageFrame);
    EXPECT_EQ(b->intrinsicContentSize(), c.intrinsic);
    EXPECT_EQ(b->buttonConstraints().size(), 8u);
  }
}

TEST_F(ActivityIndicatorButtonTests, StatesCompareByColoursImageAndProgressOnly) {
  auto image = UIImage::create({20, 20});
  State base(std::string("a"), UIColor::redColor(), UIColor::grayColor(), UIColor::whiteColor(), image, Style::spinning());
  struct Case {
    const char* name;
    State other;
    bool equal;
  };
  const Case cases[] = {
      {"other name and foreground",
       State(std::string("b"), UIColor::redColor(), UIColor::grayColor(), UIColor::blackColor(), image, Style::spinning()), true},
      {"other tint", State(std::nullopt, UIColor::blackColor(), UIColor::grayColor(), std::nullopt, image, Style::spinning()), false},
      {"no track", State(std::nullopt, UIColor::redColor(), std::nullopt, std::nullopt, image, Style::spinning()), false},
      {"an equal-looking but different image",
       State(std::nullopt, UIColor::redColor(), UIColor::grayColor(), std::nullopt, UIImage::create({20, 20}), Style::spinning()), false},
      {"other progress", State(std::nullopt, UIColor::redColor(), UIColor::grayColor(), std::nullopt, image, Style::inactive()), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(base == c.other, c.equal);
  }
  EXPECT_EQ(Style::percentage(0.5f), Style::percentage(0.5f));
  EXPECT_NE(Style::percentage(0.5f), Style::percentage(0.25f));
  EXPECT_NE(Style::percentage(0), Style::inactive());
}

TEST_F(ActivityIndicatorButtonTests, SavedStatesAreStoredFoundAndApplied) {
  auto& b = *button_;
  State spinning(std::string("busy"), std::nullopt, std::nullopt, std::nullopt, nullptr, Style::spinning());
  State half(std::string("half"), std::nullopt, std::nullopt, std::nullopt, nullptr, Style::percentage(0.5f));
  State later(std::string("busy"), UIColor::redColor(), std::nullopt, std::nullopt, nullptr, Style::spinning());
  State unnamed = withProgress(Style::percentage(0.1f));
  b.saveStates({spinning, half, unnamed, later});
  EXPECT_EQ(b.savedStateCount(), 2u);
  EXPECT_EQ(b.savedState("busy"), later);

  b.setSavedState("other", half);
  EXPECT_EQ(b.savedStateCount(), 3u);
  b.setSavedState("other", std::nullopt);
  EXPECT_EQ(b.savedStateCount(), 2u);
  EXPECT_FALSE(b.savedState("other"));

  EXPECT_FALSE(b.applySavedState("missing", true));
  EXPECT_EQ(b.activityState(), State());
  EXPECT_TRUE(b.applySavedState("half", false));
  EXPECT_EQ(b.activityState(), half);
  EXPECT_EQ(b.progressLayer().strokeEnd(), 0.5);
  EXPECT_FALSE(b.progressLayer().animationForKey("progress"));
}

TEST_F(ActivityIndicatorButtonTests, ProgressAnimatesFromTheLastDrawnValue) {
  auto& b = *button_;
  struct Step {
    const char* name;
    Style style;
    bool animated;
    double from, to;  // of the "progress" animation; from < 0: none
    double strokeEnd, ringOpacity;
  };
  const Step steps[] = {
      {"from inactive starts at zero", Style::percentage(0.4f), true, 0.0, 0.4, 0.4, 1},
      {"from a percentage starts there", Style::percentage(0.7f), true, 0.4, 0.7, 0.7, 1},
      {"the same state again still animates", Style::percentage(0.7f), true, 0.7, 0.7, 0.7, 1},
      {"unanimated sets the end at once", Style::percentage(0.2f), false, -1, 0, 0.2, 1},
      {"above the circle is clamped", Style::percentage(1.5f), true, 0.2, 1.0, 1.0, 1},
      {"below zero is clamped", Style::percentage(-0.25f), true, 1.0, 0.0, 0.0, 1},
      {"inactive hides the ring at once and keeps its end", Style::inactive(), true, -1, 0, 0.0, 0},
      {"after inactive starts at zero again", Style::percentage(0.3f), true, 0.0, 0.3, 0.3, 1},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.name);
    b.progressLayer().removeAllAnimations();
    b.setActivityState(withProgress(s.style), s.animated);
    auto progress = basic(b.progressLayer(), "progress");
    if (s.from < 0) {
      EXPECT_FALSE(progress);
    } else {
      ASSERT_TRUE(progress);
      EXPECT_NEAR(*numberOf(progress->fromValue), s.from, 1e-6);
      EXPECT_NEAR(*numberOf(progress->toValue), s.to, 1e-6);
      EXPECT_EQ(progress->duration, 0.2);
      EXPECT_EQ(progress->timingFunction, CAMediaTimingFunction(CAMediaTimingFunction::Name::EaseOut));
    }
    EXPECT_NEAR(b.progressLayer().strokeEnd(), s.strokeEnd, 1e-6);
    EXPECT_EQ(b.progressLayer().opacity(), s.ringOpacity);
    EXPECT_FALSE(b.progressLayer().animationForKey("opacity"));
  }
}

TEST_F(ActivityIndicatorButtonTests, SpinnerRunsItsCycleUntilTheNextRender) {
  auto& b = *button_;
  b.setActivityState(withProgress(Style::spinning()));
  auto group = std::dynamic_pointer_cast<const CAAnimationGroup>(b.progressLayer().animationForKey("spinning_stroke"));
  ASSERT_TRUE(group);
  EXPECT_EQ(group->duration, 1.7);
  EXPECT_TRUE(std::isinf(group->repeatCount));
  struct Row {
    const char* keyPath;
    double from, to, begin, duration;
  };
  const Row rows[] = {
      {"strokeStart", 0.0, 0.25, 0.0, 0.9},  {"strokeEnd", 0.0, 1.0, 0.0, 0.9},
      {"strokeStart", 0.25, 0.25, 0.9, 0.05}, {"strokeEnd", 1.0, 1.0, 0.9, 0.05},
      {"strokeStart", 0.25, 0.9, 0.95, 0.6}, {"strokeEnd", 1.0, 1.0, 0.95, 0.6},
      {"strokeStart", 0.9, 0.9, 1.55, 0.05}, {"strokeEnd", 1.0, 1.0, 1.55, 0.05},
      {"strokeStart", 0.9, 1.0, 1.6, 0.1},   {"strokeEnd", 1.0, 1.0, 1.6, 0.1},
  };
  ASSERT_EQ(group->animations.size(), std::size(rows));
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    auto a = std::dynamic_pointer_cast<const CABasicAnimation>(group->animations[i]);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->keyPath, rows[i].keyPath);
    EXPECT_EQ(a->fromValue, AnimationValue(rows[i].from));
    EXPECT_EQ(a->toValue, AnimationValue(rows[i].to));
    EXPECT_EQ(a->beginTime, rows[i].begin);
    EXPECT_EQ(a->duration, rows[i].duration);
  }
  auto rotation = basic(b.progressLayer(), "spinning_rotation");
  ASSERT_TRUE(rotation);
  EXPECT_EQ(rotation->keyPath, "transform.rotation");
  EXPECT_EQ(rotation->toValue, AnimationValue(2 * kPi));
  EXPECT_EQ(rotation->duration, 3.0);
  // Half-way through the hold the arc is the full circle from 0.25.
  double now = CACurrentMediaTime();
  EXPECT_NEAR(*numberOf(b.progressLayer().presentationValue("strokeStart", now + 0.92)), 0.25, 1e-9);
  EXPECT_NEAR(*numberOf(b.progressLayer().presentationValue("strokeEnd", now + 0.92)), 1.0, 1e-9);

  // A render of the same state restarts it; leaving the style stops it at once.
  auto started = b.progressLayer().animationStartTime("spinning_stroke");
  advance(1);
  b.setActivityState(withProgress(Style::spinning()));
  EXPECT_GT(*b.progressLayer().animationStartTime("spinning_stroke"), *started);
  b.setActivityState(withProgress(Style::percentage(0.5f)));
  EXPECT_FALSE(b.progressLayer().animationForKey("spinning_stroke"));
  EXPECT_FALSE(b.progressLayer().animationForKey("spinning_rotation"));
  EXPECT_EQ(*numberOf(basic(b.progressLayer(), "progress")->fromValue), 0.0);
}

TEST_F(ActivityIndicatorButtonTests, OutlineRingFadesAroundTheSpinnerOnlyWhenAnimated) {
  struct Step {
    const char* name;
    ActivityIndicatorButtonStyle style;
    Style progress;
    bool animated;
    double from, to;  // of the "opacity" fade; from < 0: none
    double opacity;
  };
  const Step steps[] = {
      {"outline into spinning fades out", ActivityIndicatorButtonStyle::outline, Style::spinning(), true, 1, 0, 0},
      {"outline spinning again keeps it hidden", ActivityIndicatorButtonStyle::outline, Style::spinning(), true, -1, 0, 0},
      {"outline out of spinning fades in", ActivityIndicatorButtonStyle::outline, Style::inactive(), true, 0, 1, 1},
      {"unanimated switches at once", ActivityIndicatorButtonStyle::outline, Style::spinning(), false, -1, 0, 0},
      {"unanimated back at once", ActivityIndicatorButtonStyle::outline, Style::inactive(), false, -1, 0, 1},
      {"solid never fades", ActivityIndicatorButtonStyle::solid, Style::spinning(), true, -1, 0, 1},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.name);
    auto& b = *button_;
    b.setStyle(s.style);
    b.backgroundLayer().removeAllAnimations();
    b.setActivityState(withProgress(s.progress), s.animated);
    auto fade = basic(b.backgroundLayer(), "opacity");
    if (s.from < 0) {
      EXPECT_FALSE(fade);
    } else {
      ASSERT_TRUE(fade);
      EXPECT_EQ(fade->fromValue, AnimationValue(s.from));
      EXPECT_EQ(fade->toValue, AnimationValue(s.to));
      EXPECT_EQ(fade->duration, 0.2);
    }
    EXPECT_EQ(b.backgroundLayer().opacity(), s.opacity);
  }
}

TEST_F(ActivityIndicatorButtonTests, TintChangeGrowsACircleEvenWithoutAnimation) {
  auto& b = *button_;
  State red;
  red.tintColor = UIColor::redColor();
  b.setActivityState(red, false);
  ASSERT_EQ(b.backgroundLayer().sublayers().size(), 1u);
  auto circleLayer = std::dynamic_pointer_cast<CAShapeLayer>(b.backgroundLayer().sublayers()[0]);
  ASSERT_TRUE(circleLayer);
  EXPECT_EQ(circleLayer->fillColor(), UIColor::redColor());
  auto expand = basic(*circleLayer, "bg_expand");
  ASSERT_TRUE(expand);
  EXPECT_EQ(expand->fromValue, AnimationValue(dot({18, 18})));
  EXPECT_EQ(expand->toValue, AnimationValue(circle({18, 18}, 18)));
  EXPECT_EQ(b.backgroundLayer().fillColor(), UIColor::redColor());  // render applied the colours too

  advance(0.2);
  EXPECT_TRUE(b.backgroundLayer().sublayers().empty());
  EXPECT_EQ(b.backgroundLayer().fillColor(), UIColor::redColor());

  // The same colour again, or the outline style, draws without a circle.
  b.setActivityState(red);
  b.setStyle(ActivityIndicatorButtonStyle::outline);
  State blue;
  blue.tintColor = UIColor::systemBlueColor();
  b.setActivityState(blue);
  EXPECT_TRUE(b.backgroundLayer().sublayers().empty());
}

TEST_F(ActivityIndicatorButtonTests, DisabledLookDesaturatesTintAndForegroundOnly) {
  const UIColor tint(0.9, 0.2, 0.1), track(0.1, 0.6, 0.3), foreground(0.2, 0.3, 0.9);
  struct Case {
    const char* name;
    ActivityIndicatorButtonStyle style;
    UIColor fill, imageTint, shadow;
  };
  const Case cases[] = {
      {"solid", ActivityIndicatorButtonStyle::solid, tint.withSaturation(0.2), foreground.withSaturation(0.2),
       UIColor::blackColor()},
      {"outline", ActivityIndicatorButtonStyle::outline, UIColor::clearColor(), tint.withSaturation(0.2),
       UIColor::clearColor()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto b = ActivityIndicatorButton::create({0, 0, 44, 44});
    b->setStyle(c.style);
    b->setActivityState(State(std::nullopt, tint, track, foreground, nullptr, Style::inactive()), false);
    b->setEnabled(false);
    EXPECT_EQ(b->backgroundLayer().fillColor(), c.fill);
    EXPECT_EQ(b->imageView()->tintColor(), c.imageTint);
    EXPECT_EQ(b->layer()->shadowColor(), c.shadow);
    EXPECT_EQ(b->backgroundLayer().strokeColor(), track);
    EXPECT_EQ(b->progressLayer().strokeColor(), tint.withSaturation(0.2));
    b->setEnabled(true);
    EXPECT_EQ(b->progressLayer().strokeColor(), tint);
  }
  // While disabled in solid style a render finds the drawn disc unlike the tint and grows a
  // circle, unless the tint is already at the disabled saturation.
  auto b = ActivityIndicatorButton::create({0, 0, 44, 44});
  b->setEnabled(false);
  b->setActivityState(State(std::nullopt, tint, std::nullopt, std::nullopt, nullptr, Style::inactive()));
  b->backgroundLayer().sublayers().front()->removeFromSuperlayer();
  b->setActivityState(b->activityState());
  EXPECT_EQ(b->backgroundLayer().sublayers().size(), 1u);
  auto pale = ActivityIndicatorButton::create({0, 0, 44, 44});
  pale->setActivityState(State(std::nullopt, tint.withSaturation(0.2), std::nullopt, std::nullopt, nullptr, Style::inactive()), false);
  advance(0.2);
  pale->setEnabled(false);
  pale->setActivityState(pale->activityState());
  EXPECT_TRUE(pale->backgroundLayer().sublayers().empty());
}

TEST_F(ActivityIndicatorButtonTests, NewImageIsRevealedByAGrowingMask) {
  auto& b = *button_;
  auto first = UIImage::create({20, 20}), second = UIImage::create({20, 20});
  struct Step {
    const char* name;
    std::shared_ptr<UIImage> image;
    bool animated;
    bool reveals;
  };
  const Step steps[] = {
      {"unanimated never reveals", first, false, false},
      {"the same object is no change", first, true, false},
      {"another object", second, true, true},
      {"removing the image", nullptr, true, true},
      {"adding one", first, true, true},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.name);
    b.imageViewMask()->removeAllAnimations();
    State state;
    state.image = s.image;
    b.setActivityState(state, s.animated);
    EXPECT_EQ(b.imageView()->image(), s.image);
    auto reveal = basic(*b.imageViewMask(), "image_expand");
    EXPECT_EQ(static_cast<bool>(reveal), s.reveals);
    if (reveal) {
      // The mask circle as the image view stands when the state is drawn: sized to its image,
      // before the next layout places it.
      CGRect bounds = b.imageView()->bounds();
      EXPECT_EQ(reveal->fromValue, AnimationValue(dot(bounds.center())));
      EXPECT_EQ(reveal->toValue, AnimationValue(circle(bounds.center(), 18)));
    }
  }
  b.layoutIfNeeded();
  EXPECT_EQ(b.imageView()->frame().size, (CGSize{26, 26}));
}

TEST_F(ActivityIndicatorButtonTests, TouchesRippleAndPressTheDiscIn) {
  auto& b = *button_;
  const CATransform3D pressed = CATransform3D::makeScale(0.98, 0.98, 1);
  b.sendActionsForControlEvents(UIControlEventTouchDown);
  ASSERT_EQ(b.layer()->sublayers().size(), 4u);
  auto ripple = b.layer()->sublayers().front();
  auto group = std::dynamic_pointer_cast<const CAAnimationGroup>(ripple->animationForKey("ripple"));
  ASSERT_TRUE(group);
  EXPECT_EQ(group->duration, 0.5);
  EXPECT_EQ(group->timingFunction, CAMediaTimingFunction(CAMediaTimingFunction::Name::EaseOut));
  ASSERT_EQ(group->animations.size(), 2u);
  auto grow = std::dynamic_pointer_cast<const CABasicAnimation>(group->animations[0]);
  EXPECT_EQ(grow->fromValue, AnimationValue(dot({22, 22})));
  EXPECT_EQ(grow->toValue, AnimationValue(UIBezierPath::arc({22, 22}, 27, 0, 2 * kPi, true)));
  for (CALayer* layer : {static_cast<CALayer*>(&b.backgroundLayer()), b.layer().get()}) {
    auto scale = basic(*layer, "hit_scale");
    ASSERT_TRUE(scale);
    EXPECT_EQ(scale->toValue, AnimationValue(pressed));
    EXPECT_EQ(layer->transform(), pressed);
  }

  // A touch that ends outside sends nothing: the press stays.
  b.sendActionsForControlEvents(UIControlEventTouchUpOutside);
  EXPECT_EQ(b.layer()->transform(), pressed);

  advance(0.25);
  b.sendActionsForControlEvents(UIControlEventTouchUpInside);
  EXPECT_EQ(b.layer()->sublayers().size(), 5u);  // two ripples overlap
  EXPECT_EQ(b.layer()->transform(), CATransform3D::identity());
  EXPECT_EQ(b.backgroundLayer().transform(), CATransform3D::identity());
  advance(0.25);
  EXPECT_EQ(b.layer()->sublayers().size(), 4u);
  advance(0.25);
  EXPECT_EQ(b.layer()->sublayers().size(), 3u);
}

}  // namespace
}  // namespace fendrel
