#include "platform/uikit/EventDriver.h"

#include "platform/dispatch/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Control.h"
#include "platform/uikit/Event.h"
#include "platform/uikit/GestureRecognizer.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"

namespace uikit {

namespace {
CGPoint toWindow(const UIView& view, CGPoint screen) {
  auto* window = view.window();
  if (!window) return screen;
  CGRect f = window->frame();
  return {screen.x - f.origin.x, screen.y - f.origin.y};
}
}  // namespace

UIEventDriver& UIEventDriver::shared() {
  static UIEventDriver driver;
  return driver;
}

void UIEventDriver::touchDown(CGPoint screenPoint) {
  hit_ = UIApplication::shared().hitTest(screenPoint);
  control_.reset();
  recognizers_.clear();
  claimed_ = false;
  time_ = dispatch::Clock::current().uptime();
  event_.reset();
  if (!hit_) return;
  event_ = UIEvent::touchEvent(hit_);
  UIEventDelivery delivery(event_, UITouchPhase::Began);
  CGPoint w = toWindow(*hit_, screenPoint);
  for (UIView* v = hit_.get(); v; v = v->superviewPointer())
    for (auto& r : v->gestureRecognizers())
      if (r->enabled) recognizers_.push_back(r);
  for (auto& r : recognizers_) r->touchBegan(w);
  for (UIView* v = hit_.get(); v; v = v->superviewPointer()) {
    if (auto* c = dynamic_cast<UIControl*>(v); c && c->isEnabled()) {
      control_ = std::static_pointer_cast<UIControl>(c->shared_from_this());
      break;
    }
  }
  if (control_) control_->touchBegan(control_->convertPointFromView(w, nullptr));
}

void UIEventDriver::touchMove(CGPoint screenPoint) {
  if (!hit_) return;
  CGPoint w = toWindow(*hit_, screenPoint);
  double now = dispatch::Clock::current().uptime();
  if (now <= time_) now = time_ + 1.0 / 60;
  time_ = now;
  UIEventDelivery delivery(event_, UITouchPhase::Moved);
  for (auto& r : recognizers_)
    if (r->touchMoved(w, now) && !claimed_) {
      claimed_ = true;
      if (r->cancelsTouchesInView && control_) {
        // The control sees its touch cancelled; the recogniser goes on with it.
        {
          UIEventDelivery cancelled(event_, UITouchPhase::Cancelled);
          control_->touchCancelled();
        }
        control_.reset();
      }
    }
  if (control_) control_->touchMoved(control_->convertPointFromView(w, nullptr));
}

void UIEventDriver::touchUp(CGPoint screenPoint) {
  if (!hit_) return;
  auto hit = hit_;
  CGPoint w = toWindow(*hit, screenPoint);
  double now = std::max(dispatch::Clock::current().uptime(), time_ + 1.0 / 60);
  bool controlTook = control_ != nullptr;
  bool recognised = claimed_;
  UIEventDelivery delivery(event_, UITouchPhase::Ended);
  if (control_) control_->touchEnded(control_->convertPointFromView(w, nullptr));
  for (auto& r : recognizers_) {
    // A control that tracked the touch keeps taps to itself.
    if (controlTook && dynamic_cast<UITapGestureRecognizer*>(r.get())) {
      r->reset();
      continue;
    }
    int before = r->recognitions();
    r->touchEnded(w, now);
    if (r->recognitions() != before) recognised = true;
  }
  if (!controlTook && !recognised) {
    for (UIView* v = hit.get(); v; v = v->superviewPointer())
      if (v->handleUnclaimedTap(*hit)) break;
  }
  hit_.reset();
  control_.reset();
  recognizers_.clear();
  event_.reset();
}

void UIEventDriver::tap(CGPoint screenPoint) {
  touchDown(screenPoint);
  touchUp(screenPoint);
}

void UIEventDriver::tap(const UIView& view) {
  CGRect b = view.bounds();
  CGPoint centre{b.origin.x + b.size.width / 2, b.origin.y + b.size.height / 2};
  CGPoint w = view.convertPointToView(centre, nullptr);
  if (auto* window = view.window()) w = {w.x + window->frame().origin.x, w.y + window->frame().origin.y};
  tap(w);
}

void UIEventDriver::drag(const std::vector<CGPoint>& path, double seconds) {
  if (path.empty()) return;
  touchDown(path.front());
  double step = path.size() > 1 ? seconds / static_cast<double>(path.size() - 1) : 0;
  double t = time_;
  for (std::size_t i = 1; i < path.size(); ++i) {
    t += step;
    time_ = t - 1e-12;
    // Moves are stamped with the path's own times so velocities follow the path.
    CGPoint p = path[i];
    if (!hit_) break;
    CGPoint w = toWindow(*hit_, p);
    for (auto& r : recognizers_)
      if (r->touchMoved(w, t) && !claimed_) {
        claimed_ = true;
        if (r->cancelsTouchesInView && control_) {
          control_->touchCancelled();
          control_.reset();
        }
      }
    if (control_) control_->touchMoved(control_->convertPointFromView(w, nullptr));
    time_ = t;
  }
  touchUp(path.back());
}

void UIEventDriver::typeText(const std::string& text) {
  if (auto field = UITextField::editingField()) field->insertText(text);
}

namespace {
bool escape() {
  auto window = UIApplication::shared().keyWindow();
  std::vector<std::shared_ptr<UIViewController>> chain;
  for (auto c = window ? window->rootViewController() : nullptr; c; c = c->presentedViewController()) chain.push_back(c);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    if ((*it)->accessibilityPerformEscape()) return true;
  if (auto field = UITextField::editingField()) return field->resignFirstResponder();
  return false;
}
}  // namespace

bool UIEventDriver::pressKey(UIKey key) {
  if (key == UIKey::Escape) return escape();
  auto field = UITextField::editingField();
  if (!field) return false;
  switch (key) {
    case UIKey::Backspace: field->deleteBackward(); break;
    case UIKey::Delete: field->deleteForward(); break;
    case UIKey::Left: field->moveCaretLeft(); break;
    case UIKey::Right: field->moveCaretRight(); break;
    case UIKey::Up:
    case UIKey::Home: field->moveCaretToStart(); break;
    case UIKey::Down:
    case UIKey::End: field->moveCaretToEnd(); break;
    case UIKey::SelectAll: field->selectAll(); break;
    case UIKey::Return: field->insertText("\n"); break;
    case UIKey::Tab:
    case UIKey::Escape: return false;
  }
  return true;
}

void UIEventDriver::postKeyboardNotification(const std::string& name, foundation::Dictionary userInfo) {
  foundation::NotificationCenter::defaultCenter().post(name, {}, std::move(userInfo));
}

void UIEventDriver::postOrientationChange() {
  foundation::NotificationCenter::defaultCenter().post(UIDeviceOrientationDidChangeNotification);
}

foundation::Dictionary UIEventDriver::keyboardUserInfo(const CGRect& endFrame, double duration, int curve) {
  foundation::Dictionary info;
  info.set(UIKeyboardFrameEndUserInfoKey, boxRect(endFrame));
  info.set(UIKeyboardAnimationDurationUserInfoKey, duration);
  info.set(UIKeyboardAnimationCurveUserInfoKey, curve);
  return info;
}

}  // namespace uikit
