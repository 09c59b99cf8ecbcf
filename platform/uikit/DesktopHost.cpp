#include "platform/uikit/DesktopHost.h"

#include "platform/uikit/Control.h"
#include "platform/uikit/Window.h"

namespace uikit {

WindowDesktopHost::WindowDesktopHost(std::shared_ptr<UIWindow> window) : window_(std::move(window)) {}

std::shared_ptr<UIView> WindowDesktopHost::displayedView() { return window_; }

void WindowDesktopHost::handleTouch(DesktopTouchPhase phase, CGPoint location) {
  if (!window_) return;
  if (phase == DesktopTouchPhase::Began) {
    tracked_.reset();
    for (auto v = window_->hitTest(location); v; v = v->superview()) {
      if (auto* control = dynamic_cast<UIControl*>(v.get())) {
        if (!control->isEnabled()) break;
        tracked_ = v;
        control->setHighlighted(true);
        control->sendActionsForControlEvents(UIControlEventTouchDown);
        break;
      }
    }
    return;
  }
  auto view = tracked_.lock();
  auto* control = dynamic_cast<UIControl*>(view.get());
  if (!control) return;
  bool inside = control->pointInside(control->convertPointFromView(location, nullptr));
  switch (phase) {
    case DesktopTouchPhase::Began: break;
    case DesktopTouchPhase::Moved: control->setHighlighted(inside); break;
    case DesktopTouchPhase::Ended:
      tracked_.reset();
      control->setHighlighted(false);
      control->sendActionsForControlEvents(inside ? UIControlEventTouchUpInside : UIControlEventTouchUpOutside);
      break;
    case DesktopTouchPhase::Cancelled:
      tracked_.reset();
      control->setHighlighted(false);
      control->sendActionsForControlEvents(UIControlEventTouchCancel);
      break;
  }
}

void WindowDesktopHost::insertText(const std::string& text) {
  if (onText) onText(text);
}

void WindowDesktopHost::pressKey(DesktopKey key) {
  if (onKey) onKey(key);
}

void WindowDesktopHost::resizeScreen(CGSize size) {
  if (!window_) return;
  window_->setFrame({0, 0, size.width, size.height});
  window_->setNeedsLayout();
}

}  // namespace uikit
