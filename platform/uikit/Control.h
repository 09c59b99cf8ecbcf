#pragma once
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/uikit/View.h"

namespace uikit {

/// Control events, as the platform numbers them.
enum UIControlEvents : unsigned {
  UIControlEventTouchDown = 1u << 0,
  UIControlEventTouchDownRepeat = 1u << 1,
  UIControlEventTouchDragInside = 1u << 2,
  UIControlEventTouchDragOutside = 1u << 3,
  UIControlEventTouchDragEnter = 1u << 4,
  UIControlEventTouchDragExit = 1u << 5,
  UIControlEventTouchUpInside = 1u << 6,
  UIControlEventTouchUpOutside = 1u << 7,
  UIControlEventTouchCancel = 1u << 8,
  UIControlEventValueChanged = 1u << 12,
  UIControlEventPrimaryActionTriggered = 1u << 13,
  UIControlEventEditingDidBegin = 1u << 16,
  UIControlEventEditingChanged = 1u << 17,
  UIControlEventEditingDidEnd = 1u << 18,
  UIControlEventEditingDidEndOnExit = 1u << 19,
  UIControlEventAllTouchEvents = 0x00000FFFu,
  UIControlEventAllEditingEvents = 0x000F0000u,
  UIControlEventAllEvents = 0xFFFFFFFFu,
};

/// Control states, as the platform numbers them: a button keeps a title, image and colour per state.
enum UIControlState : unsigned {
  UIControlStateNormal = 0, UIControlStateHighlighted = 1u << 0, UIControlStateDisabled = 1u << 1,
  UIControlStateSelected = 1u << 2,
};

/// A view that sends actions to targets when events happen to it. An action is registered under
/// its target (held weakly: a target that is gone is skipped and dropped) and a selector name,
/// so it can be found and removed again as on the platform. Every action goes out through the
/// application's `sendAction` with the selector, the target (when it is a runtime object), this
/// control as the sender and the event of the touch being delivered (none when sent by code).
class UIControl : public UIView {
 public:
  using UIView::UIView;
  std::string className() const override { return "UIControl"; }

  bool isEnabled() const { return enabled_; }
  virtual void setEnabled(bool enabled) { enabled_ = enabled; }
  bool isSelected() const { return selected_; }
  virtual void setSelected(bool selected) { selected_ = selected; }
  bool isHighlighted() const { return highlighted_; }
  virtual void setHighlighted(bool highlighted) { highlighted_ = highlighted; }

  /// Registers `action` for `events` under (`target`, `selector`). Registering the same pair
  /// again adds the events to it.
  template <class T>
  void addTarget(const std::shared_ptr<T>& target, const std::string& selector, unsigned events,
                 std::function<void(T& target, UIControl& sender)> action) {
    std::weak_ptr<T> weak = target;
    runtime::Object* object = nullptr;
    if constexpr (std::is_convertible_v<T*, runtime::Object*>) object = target.get();
    addTargetEntry(std::weak_ptr<const void>(target), target.get(), object, selector, events,
                   [weak, action = std::move(action)](UIControl& sender) {
                     if (auto strong = weak.lock()) action(*strong, sender);
                   });
  }
  /// Removes `events` from the actions of `target` (null: every target) named `selector` (empty:
  /// every selector); an entry left with no events goes.
  void removeTarget(const void* target, const std::string& selector, unsigned events);
  /// Calls, in registration order, every action registered for any of `events`.
  void sendActionsForControlEvents(unsigned events);
  /// The selectors registered for `target` and `event`.
  std::vector<std::string> actionsForTarget(const void* target, unsigned event) const;
  /// The union of the events that have actions.
  unsigned allControlEvents() const;
  std::size_t targetCount() const;

  // Touch tracking, driven by touch delivery. Points are in this control's coordinates.
  /// A touch went down on the control: highlighted, touch-down sent.
  virtual void touchBegan(CGPoint point);
  /// The touch moved: highlight follows whether it is inside; drag events sent.
  virtual void touchMoved(CGPoint point);
  /// The touch lifted: touch-up-inside when it ended inside the bounds, else touch-up-outside.
  virtual void touchEnded(CGPoint point);
  /// The touch was taken away (by a gesture recogniser): touch-cancel, no up event.
  virtual void touchCancelled();
  bool isTracking() const { return tracking_; }

 private:
  bool tracking_ = false;
  bool trackingInside_ = false;
  struct Entry {
    std::weak_ptr<const void> life;
    const void* target;
    runtime::Object* object;  ///< the target as a runtime object; null when it is none
    std::string selector;
    unsigned events;
    std::function<void(UIControl&)> action;
  };
  void addTargetEntry(std::weak_ptr<const void> life, const void* target, runtime::Object* object,
                      const std::string& selector, unsigned events, std::function<void(UIControl&)> action);
  void prune();

  bool enabled_ = true;
  bool selected_ = false;
  bool highlighted_ = false;
  std::vector<Entry> entries_;
};

}  // namespace uikit
