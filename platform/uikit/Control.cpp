#include "platform/uikit/Control.h"

#include <algorithm>

#include "platform/uikit/Application.h"
#include "platform/uikit/Event.h"

RUNTIME_CLASS(uikit::UIControl, uikit::UIView, "UIControl");

namespace uikit {

void UIControl::addTargetEntry(std::weak_ptr<const void> life, const void* target, runtime::Object* object,
                               const std::string& selector, unsigned events, std::function<void(UIControl&)> action) {
  prune();
  for (auto& e : entries_) {
    if (e.target == target && e.selector == selector) {
      e.events |= events;
      return;
    }
  }
  entries_.push_back({std::move(life), target, object, selector, events, std::move(action)});
}

void UIControl::removeTarget(const void* target, const std::string& selector, unsigned events) {
  for (auto& e : entries_)
    if ((!target || e.target == target) && (selector.empty() || e.selector == selector)) e.events &= ~events;
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.events == 0; }),
                 entries_.end());
}

void UIControl::sendActionsForControlEvents(unsigned events) {
  prune();
  // Actions may add or remove targets: run a snapshot, each target kept alive for its action.
  struct Due {
    std::shared_ptr<const void> life;
    runtime::Object* target;
    std::string selector;
    std::function<void(UIControl&)> action;
  };
  std::vector<Due> due;
  for (const auto& e : entries_)
    if (e.events & events) due.push_back({e.life.lock(), e.object, e.selector, e.action});
  auto keep = shared_from_this();
  for (auto& d : due) {
    if (!d.life) continue;
    UIApplication::shared().sendAction(runtime::sel_registerName(d.selector), d.target, this,
                                       UIEventDelivery::current(), [&] { d.action(*this); });
  }
}

std::vector<std::string> UIControl::actionsForTarget(const void* target, unsigned event) const {
  std::vector<std::string> out;
  for (const auto& e : entries_)
    if (e.target == target && (e.events & event) && !e.life.expired()) out.push_back(e.selector);
  return out;
}

unsigned UIControl::allControlEvents() const {
  unsigned all = 0;
  for (const auto& e : entries_)
    if (!e.life.expired()) all |= e.events;
  return all;
}

std::size_t UIControl::targetCount() const {
  return static_cast<std::size_t>(
      std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) { return !e.life.expired(); }));
}

void UIControl::touchBegan(CGPoint /*point*/) {
  if (!enabled_) return;
  tracking_ = true;
  trackingInside_ = true;
  setHighlighted(true);
  sendActionsForControlEvents(UIControlEventTouchDown);
}

void UIControl::touchMoved(CGPoint point) {
  if (!tracking_) return;
  bool inside = pointInside(point);
  unsigned events = inside ? UIControlEventTouchDragInside : UIControlEventTouchDragOutside;
  if (inside != trackingInside_) events |= inside ? UIControlEventTouchDragEnter : UIControlEventTouchDragExit;
  trackingInside_ = inside;
  setHighlighted(inside);
  sendActionsForControlEvents(events);
}

void UIControl::touchEnded(CGPoint point) {
  if (!tracking_) return;
  tracking_ = false;
  bool inside = pointInside(point);
  setHighlighted(false);
  sendActionsForControlEvents(inside ? UIControlEventTouchUpInside : UIControlEventTouchUpOutside);
}

void UIControl::touchCancelled() {
  if (!tracking_) return;
  tracking_ = false;
  setHighlighted(false);
  sendActionsForControlEvents(UIControlEventTouchCancel);
}

void UIControl::prune() {
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.life.expired(); }),
                 entries_.end());
}

}  // namespace uikit
