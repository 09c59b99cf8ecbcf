#include "platform/uikit/DesktopHost.h"

#include "platform/uikit/Application.h"
#include "platform/uikit/Control.h"
#include "platform/uikit/Event.h"
#include "platform/uikit/EventDriver.h"
#include "platform/uikit/Window.h"

namespace uikit {

WindowDesktopHost::WindowDesktopHost(std::shared_ptr<UIWindow> window) : window_(std::move(window)) {}

std::vector<std::shared_ptr<UIView>> WindowDesktopHost::displayedViews() {
  if (!window_) return {};
  return {window_};
}

void WindowDesktopHost::handleTouch(DesktopTouchPhase phase, CGPoint location) {
  if (!window_) return;
  if (phase == DesktopTouchPhase::Began) {
    tracked_.reset();
    auto hit = window_->hitTest(location);
    event_ = hit ? UIEvent::touchEvent(hit) : nullptr;
    UIEventDelivery delivery(event_, UITouchPhase::Began);
    for (auto v = hit; v; v = v->superview()) {
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
  auto event = event_;
  switch (phase) {
    case DesktopTouchPhase::Began: break;
    case DesktopTouchPhase::Moved: control->setHighlighted(inside); break;
    case DesktopTouchPhase::Ended: {
      tracked_.reset();
      event_.reset();
      UIEventDelivery delivery(event, UITouchPhase::Ended);
      control->setHighlighted(false);
      control->sendActionsForControlEvents(inside ? UIControlEventTouchUpInside : UIControlEventTouchUpOutside);
      break;
    }
    case DesktopTouchPhase::Cancelled: {
      tracked_.reset();
      event_.reset();
      UIEventDelivery delivery(event, UITouchPhase::Cancelled);
      control->setHighlighted(false);
      control->sendActionsForControlEvents(UIControlEventTouchCancel);
      break;
    }
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

std::vector<std::shared_ptr<UIView>> ApplicationDesktopHost::displayedViews() {
  std::vector<std::shared_ptr<UIView>> views;
  for (auto& window : UIApplication::shared().windows()) views.push_back(std::move(window));
  return views;
}

void ApplicationDesktopHost::handleTouch(DesktopTouchPhase phase, CGPoint location) {
  auto& driver = UIEventDriver::shared();
  switch (phase) {
    case DesktopTouchPhase::Began: driver.touchDown(location); break;
    case DesktopTouchPhase::Moved: driver.touchMove(location); break;
    // A touch the desktop takes back (the pointer grabbed elsewhere) ends where it was last seen.
    case DesktopTouchPhase::Ended:
    case DesktopTouchPhase::Cancelled: driver.touchUp(location); break;
  }
}

void ApplicationDesktopHost::insertText(const std::string& text) { UIEventDriver::shared().typeText(text); }

void ApplicationDesktopHost::pressKey(DesktopKey key) {
  if (!UIEventDriver::shared().pressKey(key) && onKey) onKey(key);
}

void ApplicationDesktopHost::resizeScreen(CGSize size) {
  const CGRect bounds{0, 0, size.width, size.height};
  UIScreen::main().setBounds(bounds);
  for (auto& window : UIApplication::shared().windows()) {
    window->setFrame(bounds);
    window->setNeedsLayout();
  }
}

}  // namespace uikit
