#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "MessageBanners/AnimationContext.h"
#include "MessageBanners/Animator.h"
#include "platform/uikit/Geometry.h"

namespace uikit {
class UIView;
class UIGestureRecognizer;
class UIPanGestureRecognizer;
class UIDynamicAnimator;
class UIDynamicItemBehavior;
class UIAttachmentBehavior;
}  // namespace uikit

namespace MessageBanners {

/// Lets the user grab a message and throw it away: the message hangs on an attachment while the
/// finger moves it; released fast enough it flies on freely and, once out of its container, asks
/// the animator's delegate to hide it; released slowly it springs back. Main thread only.
class PhysicsPanHandler : public std::enable_shared_from_this<PhysicsPanHandler> {
 public:
  struct MotionSnapshot {
    double angle;
    double time;
  };

  /// One drag: the physics that moves the message and the angles it went through.
  class State {
   public:
    State(const std::shared_ptr<uikit::UIView>& messageView, const std::shared_ptr<uikit::UIView>& containerView);
    const std::shared_ptr<uikit::UIDynamicAnimator>& dynamicAnimator() const { return dynamicAnimator_; }
    const std::shared_ptr<uikit::UIDynamicItemBehavior>& itemBehavior() const { return itemBehavior_; }
    const std::shared_ptr<uikit::UIAttachmentBehavior>& attachmentBehavior() const { return attachment_; }
    /// Replaces the attachment; a new one is added to the physics and a snapshot is taken.
    void setAttachmentBehavior(std::shared_ptr<uikit::UIAttachmentBehavior> attachment);
    const std::vector<MotionSnapshot>& snapshots() const { return snapshots_; }
    void takeSnapshot();
    /// Radians per second between the last snapshot and the latest one that differs from it in
    /// angle and time; 0 without such a pair.
    double angularVelocity() const;
    /// Freezes the message where it is and ends the physics.
    void stop();

   private:
    std::weak_ptr<uikit::UIView> messageView_;
    std::weak_ptr<uikit::UIView> containerView_;
    std::shared_ptr<uikit::UIDynamicAnimator> dynamicAnimator_;
    std::shared_ptr<uikit::UIDynamicItemBehavior> itemBehavior_;
    std::shared_ptr<uikit::UIAttachmentBehavior> attachment_;
    std::vector<MotionSnapshot> snapshots_;
  };

  static std::shared_ptr<PhysicsPanHandler> create() { return std::shared_ptr<PhysicsPanHandler>(new PhysicsPanHandler); }

  /// Seconds between leaving the container and the hide request.
  double hideDelay = 0.2;
  const std::optional<State>& state() const { return state_; }
  bool isOffScreen() const { return isOffScreen_; }
  std::optional<uikit::CGPoint> restingCenter() const { return restingCenter_; }
  const std::shared_ptr<uikit::UIPanGestureRecognizer>& pan();

  /// Moves the drag onto the context's message view and remembers its container and animator.
  void configure(const AnimationContext& context, const std::shared_ptr<Animator>& animator);
  /// Stops the drag's physics, if any, leaving the message where it is.
  void stopState();

 private:
  PhysicsPanHandler() = default;
  void handlePan(uikit::UIGestureRecognizer& sender);
  void physicsStep();

  std::weak_ptr<Animator> animator_;
  std::weak_ptr<uikit::UIView> messageView_;
  std::weak_ptr<uikit::UIView> containerView_;
  std::optional<State> state_;
  bool isOffScreen_ = false;
  std::optional<uikit::CGPoint> restingCenter_;
  std::shared_ptr<uikit::UIPanGestureRecognizer> pan_;
};

/// Pops a message in at its placement (scaling up and fading in) and shrinks it out; with
/// interactive hiding the pan handler lets the user throw it away. Main thread only.
class PhysicsAnimation : public Animator, public std::enable_shared_from_this<PhysicsAnimation> {
 public:
  enum class Placement { Top, Center, Bottom };

  static std::shared_ptr<PhysicsAnimation> create(const std::shared_ptr<AnimationDelegate>& delegate = nullptr);
  ~PhysicsAnimation() override;

  Placement placement = Placement::Center;
  double showDuration() const override { return showDuration_; }
  void setShowDuration(double seconds) { showDuration_ = seconds; }
  double hideDuration() const override { return hideDuration_; }
  void setHideDuration(double seconds) { hideDuration_ = seconds; }
  std::shared_ptr<PhysicsPanHandler> panHandler = PhysicsPanHandler::create();

  void show(const AnimationContext& context, Completion completion) override;
  void hide(const AnimationContext& context, Completion completion) override;
  virtual void install(const AnimationContext& context);
  virtual void adjustMargins();

  std::shared_ptr<uikit::UIView> messageView() const { return messageView_.lock(); }

 protected:
  PhysicsAnimation() = default;

 private:
  double showDuration_ = 0.5;
  double hideDuration_ = 0.15;
  std::weak_ptr<uikit::UIView> messageView_;
  std::weak_ptr<uikit::UIView> containerView_;
  std::optional<AnimationContext> context_;
};

}  // namespace MessageBanners
