#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/uikit/Geometry.h"
#include "platform/uikit/Object.h"

namespace uikit {

class UIView;

enum class UIGestureRecognizerState : int { Possible = 0, Began = 1, Changed = 2, Ended = 3, Cancelled = 4, Failed = 5 };

/// Recognises a gesture in the touches of its view and calls its actions when its state changes.
/// Actions are keyed by target and selector name, like a control's.
class UIGestureRecognizer : public NSObject, public std::enable_shared_from_this<UIGestureRecognizer> {
 public:
  std::string className() const override { return "UIGestureRecognizer"; }
  UIGestureRecognizerState state() const { return state_; }
  bool enabled = true;
  /// When it recognises, touches on controls in the view are cancelled.
  bool cancelsTouchesInView = true;
  UIView* view() const { return view_; }
  /// How many times the state changed to one that fires the actions.
  int recognitions() const { return recognitions_; }

  template <class T>
  void addTarget(const std::shared_ptr<T>& target, const std::string& selector,
                 std::function<void(T& target, UIGestureRecognizer& sender)> action) {
    std::weak_ptr<T> weak = target;
    actions_.push_back({target.get(), selector, std::weak_ptr<const void>(target),
                        [weak, action = std::move(action)](UIGestureRecognizer& sender) {
                          if (auto strong = weak.lock()) action(*strong, sender);
                        }});
  }
  void removeTarget(const void* target, const std::string& selector);

  /// The touch's location in `view` (null: the window).
  CGPoint locationInView(const UIView* view) const;

  // Touch delivery, in window coordinates. Returns true once the recogniser claims the touch.
  virtual bool touchBegan(CGPoint windowPoint) = 0;
  virtual bool touchMoved(CGPoint windowPoint, double time) = 0;
  virtual void touchEnded(CGPoint windowPoint, double time) = 0;
  /// Back to possible after a gesture ends.
  void reset() { state_ = UIGestureRecognizerState::Possible; }

 protected:
  friend class UIView;
  void setState(UIGestureRecognizerState state);
  UIView* view_ = nullptr;
  CGPoint location_;

 private:
  struct Action {
    const void* target;
    std::string selector;
    std::weak_ptr<const void> life;
    std::function<void(UIGestureRecognizer&)> run;
  };
  UIGestureRecognizerState state_ = UIGestureRecognizerState::Possible;
  int recognitions_ = 0;
  std::vector<Action> actions_;
};

/// A tap: a touch that lifts within 10 points of where it went down.
class UITapGestureRecognizer : public UIGestureRecognizer {
 public:
  std::string className() const override { return "UITapGestureRecognizer"; }
  bool touchBegan(CGPoint windowPoint) override;
  bool touchMoved(CGPoint windowPoint, double time) override;
  void touchEnded(CGPoint windowPoint, double time) override;

 private:
  CGPoint start_;
  bool failed_ = false;
};

/// A pan: begins once the touch has moved 10 points from where it went down; the translation is
/// measured from the start, the velocity from the last two samples.
class UIPanGestureRecognizer : public UIGestureRecognizer {
 public:
  static constexpr double kBeginDistance = 10;
  std::string className() const override { return "UIPanGestureRecognizer"; }
  CGPoint translationInView(const UIView* view) const;
  void setTranslation(CGPoint translation, const UIView* view);
  CGPoint velocityInView(const UIView* view) const;

  bool touchBegan(CGPoint windowPoint) override;
  bool touchMoved(CGPoint windowPoint, double time) override;
  void touchEnded(CGPoint windowPoint, double time) override;

  /// For tests: sets the state, translation (window axes), velocity and location, and fires the
  /// actions, as a real pan of those values would.
  void drive(UIGestureRecognizerState state, CGPoint translation, CGPoint velocity, CGPoint windowLocation);

 private:
  CGPoint start_;
  CGPoint translation_;
  CGPoint velocity_;
  CGPoint last_;
  double lastTime_ = 0;
  bool began_ = false;
};

}  // namespace uikit
