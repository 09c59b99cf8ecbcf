#pragma once
#include <functional>
#include <memory>

namespace MessageBanners {

class AnimationContext;
class Animator;
class Presenter;

/// Hears what the user does to a message while an animator shows it. Main thread.
class AnimationDelegate {
 public:
  virtual ~AnimationDelegate() = default;
  /// The user dismissed the message (a swipe or a throw).
  virtual void hide(Animator& animator) = 0;
  /// A drag on the message began: the caller holds its automatic hide.
  virtual void panStarted(Animator& animator) = 0;
  /// The drag ended without dismissing the message.
  virtual void panEnded(Animator& animator) = 0;
};

/// The queue manager's side of a presenter: it also hears a presenter that wants to go.
class PresenterDelegate : public AnimationDelegate {
 public:
  virtual void hide(Presenter& presenter) = 0;
  using AnimationDelegate::hide;
};

/// Moves one message in and out of its container. The presenter calls show exactly once and then
/// hide at most once, each with a fresh context, on the main thread; the delegate calls may come
/// in between.
class Animator {
 public:
  using Completion = std::function<void(bool completed)>;
  virtual ~Animator() = default;

  /// Held weakly: the delegate is the queue manager, which outlives its animators.
  std::shared_ptr<AnimationDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<AnimationDelegate>& delegate) { delegate_ = delegate; }

  virtual void show(const AnimationContext& context, Completion completion) = 0;
  virtual void hide(const AnimationContext& context, Completion completion) = 0;
  /// Seconds the show animation takes.
  virtual double showDuration() const = 0;
  /// Seconds the hide animation takes.
  virtual double hideDuration() const = 0;

 private:
  std::weak_ptr<AnimationDelegate> delegate_;
};

}  // namespace MessageBanners
