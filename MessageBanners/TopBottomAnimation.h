#pragma once
#include <functional>
#include <memory>
#include <optional>

#include "MessageBanners/AnimationContext.h"
#include "MessageBanners/Animator.h"
#include "platform/uikit/Geometry.h"

namespace uikit {
class UIView;
class UIGestureRecognizer;
class UIPanGestureRecognizer;
}  // namespace uikit

namespace MessageBanners {

/// Slides a message in from the top or bottom edge of its container with a spring and out again,
/// and lets the user drag it back over that edge to dismiss it (with resistance when it is dragged
/// the other way and its background stops short of the outer edge). Main thread only.
class TopBottomAnimation : public Animator, public std::enable_shared_from_this<TopBottomAnimation> {
 public:
  enum class Style { Top, Bottom };

  static std::shared_ptr<TopBottomAnimation> create(Style style,
                                                    const std::shared_ptr<AnimationDelegate>& delegate = nullptr);
  ~TopBottomAnimation() override;

  Style style() const { return style_; }
  double showDuration() const override { return showDuration_; }
  void setShowDuration(double seconds) { showDuration_ = seconds; }
  double hideDuration() const override { return hideDuration_; }
  void setHideDuration(double seconds) { hideDuration_ = seconds; }
  double springDamping = 0.8;
  /// Release speed towards the edge (points per second) above which a drag dismisses.
  double closeSpeedThreshold = 750.0;
  /// Fraction of the message's height above which a drag dismisses.
  double closePercentThreshold = 0.33;
  /// Distance towards the edge (points) above which a drag dismisses.
  double closeAbsoluteThreshold = 75.0;

  /// The drag recogniser, made on first use and reused for every message.
  const std::shared_ptr<uikit::UIPanGestureRecognizer>& panGestureRecognizer();

  void show(const AnimationContext& context, Completion completion) override;
  void hide(const AnimationContext& context, Completion completion) override;
  /// Pins the message to the edge, lays it out, moves it beyond the edge and adds the drag.
  virtual void install(const AnimationContext& context);
  /// Puts the message's layout margins in step with the safe area and the bounce offset.
  virtual void adjustMargins();

  std::shared_ptr<uikit::UIView> messageView() const { return messageView_.lock(); }
  std::shared_ptr<uikit::UIView> containerView() const { return containerView_.lock(); }
  uikit::CGFloat bounceOffset() const { return bounceOffset_; }
  bool closing() const { return closing_; }

 protected:
  explicit TopBottomAnimation(Style style) : style_(style) {}

 private:
  void pan(uikit::UIGestureRecognizer& sender);
  void springToRest(double initialVelocity, std::function<void(bool)> completion);
  double initialSpringVelocity() const;
  static Completion wrapCompletion(Completion completion);

  Style style_;
  double showDuration_ = 0.4;
  double hideDuration_ = 0.2;
  std::shared_ptr<uikit::UIPanGestureRecognizer> pan_;
  std::weak_ptr<uikit::UIView> messageView_;
  std::weak_ptr<uikit::UIView> containerView_;
  std::optional<AnimationContext> context_;
  uikit::CGFloat bounceOffset_ = 5.0;
  bool closing_ = false;
  bool rubberBanding_ = false;
  double closeSpeed_ = 0;
  double closePercent_ = 0;
  double panTranslationY_ = 0;
};

}  // namespace MessageBanners
