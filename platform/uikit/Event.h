#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/uikit/Object.h"

namespace uikit {

class UIView;

/// Phases of a touch, as the platform numbers them.
enum class UITouchPhase : int { Began = 0, Moved = 1, Stationary = 2, Ended = 3, Cancelled = 4 };

/// One finger on the screen: the view it began on (the hit-tested view, kept for the touch's
/// life) and the phase it is in now. Made and advanced by touch delivery. Main thread only.
class UITouch : public NSObject {
 public:
  explicit UITouch(std::shared_ptr<UIView> view) : view_(std::move(view)) {}
  std::string className() const override { return "UITouch"; }
  UITouchPhase phase() const { return phase_; }
  void setPhase(UITouchPhase phase) { phase_ = phase; }
  const std::shared_ptr<UIView>& view() const { return view_; }

 private:
  std::shared_ptr<UIView> view_;
  UITouchPhase phase_ = UITouchPhase::Began;
};

/// A touch event: the touches it carries. The toolkit delivers one touch at a time, so a touch
/// event carries the one touch; the same event goes with every phase of that touch. Main thread
/// only.
class UIEvent : public NSObject {
 public:
  /// The event of a touch that begins on `view`.
  static std::shared_ptr<UIEvent> touchEvent(std::shared_ptr<UIView> view);
  std::string className() const override { return "UIEvent"; }
  const std::vector<std::shared_ptr<UITouch>>& allTouches() const { return touches_; }

 private:
  std::vector<std::shared_ptr<UITouch>> touches_;
};

/// While alive, `event` is the event being delivered, with its touches in `phase`: the actions
/// controls send meanwhile carry it ("sendAction:to:from:forEvent:"). Deliveries nest (a control
/// may see its touch cancelled while the touch moves on); when the inner one ends, the outer
/// event is current again, and when that is the same event its touches are back in their
/// earlier phases. Main thread only.
class UIEventDelivery {
 public:
  UIEventDelivery(std::shared_ptr<UIEvent> event, UITouchPhase phase);
  ~UIEventDelivery();
  UIEventDelivery(const UIEventDelivery&) = delete;
  UIEventDelivery& operator=(const UIEventDelivery&) = delete;
  /// The event being delivered; null outside touch delivery (an action sent by code).
  static UIEvent* current();

 private:
  std::shared_ptr<UIEvent> event_;
  UIEvent* previous_;
  std::vector<UITouchPhase> previousPhases_;
};

}  // namespace uikit
