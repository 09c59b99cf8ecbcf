#include "platform/uikit/GestureRecognizer.h"

#include <algorithm>
#include <cmath>

#include "platform/uikit/View.h"

namespace uikit {

void UIView::addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer) {
  if (!recognizer) return;
  if (recognizer->view_ && recognizer->view_ != this) recognizer->view_->removeGestureRecognizer(recognizer.get());
  if (std::find(recognizers_.begin(), recognizers_.end(), recognizer) != recognizers_.end()) return;
  recognizers_.push_back(recognizer);
  recognizer->view_ = this;
}

void UIView::removeGestureRecognizer(const UIGestureRecognizer* recognizer) {
  auto it = std::find_if(recognizers_.begin(), recognizers_.end(),
                         [&](const auto& r) { return r.get() == recognizer; });
  if (it == recognizers_.end()) return;
  (*it)->view_ = nullptr;
  recognizers_.erase(it);
}

void UIGestureRecognizer::removeTarget(const void* target, const std::string& selector) {
  actions_.erase(std::remove_if(actions_.begin(), actions_.end(),
                                [&](const Action& a) {
                                  return (!target || a.target == target) && (selector.empty() || a.selector == selector);
                                }),
                 actions_.end());
}

CGPoint UIGestureRecognizer::locationInView(const UIView* view) const {
  if (!view || !view_) return location_;
  UIView* window = reinterpret_cast<UIView*>(view_->window());
  return view->convertPointFromView(location_, window);
}

void UIGestureRecognizer::setState(UIGestureRecognizerState state) {
  state_ = state;
  if (state == UIGestureRecognizerState::Possible || state == UIGestureRecognizerState::Failed) return;
  recognitions_++;
  auto keep = shared_from_this();
  actions_.erase(std::remove_if(actions_.begin(), actions_.end(), [](const Action& a) { return a.life.expired(); }),
                 actions_.end());
  auto due = actions_;
  for (auto& a : due) a.run(*this);
}

namespace {
double distance(CGPoint a, CGPoint b) { return std::hypot(a.x - b.x, a.y - b.y); }
}  // namespace

bool UITapGestureRecognizer::touchBegan(CGPoint windowPoint) {
  start_ = location_ = windowPoint;
  failed_ = false;
  return false;
}

bool UITapGestureRecognizer::touchMoved(CGPoint windowPoint, double /*time*/) {
  location_ = windowPoint;
  if (distance(windowPoint, start_) > 10) failed_ = true;
  return false;
}

void UITapGestureRecognizer::touchEnded(CGPoint windowPoint, double /*time*/) {
  location_ = windowPoint;
  if (!failed_ && distance(windowPoint, start_) <= 10) setState(UIGestureRecognizerState::Ended);
  reset();
}

CGPoint UIPanGestureRecognizer::translationInView(const UIView* view) const {
  if (!view || !view_) return translation_;
  UIView* window = reinterpret_cast<UIView*>(view_->window());
  CGPoint a = view->convertPointFromView(start_, window);
  CGPoint b = view->convertPointFromView({start_.x + translation_.x, start_.y + translation_.y}, window);
  return {b.x - a.x, b.y - a.y};
}

void UIPanGestureRecognizer::setTranslation(CGPoint translation, const UIView* /*view*/) {
  start_ = {location_.x - translation.x, location_.y - translation.y};
  translation_ = translation;
}

CGPoint UIPanGestureRecognizer::velocityInView(const UIView* /*view*/) const { return velocity_; }

bool UIPanGestureRecognizer::touchBegan(CGPoint windowPoint) {
  start_ = last_ = location_ = windowPoint;
  translation_ = velocity_ = {0, 0};
  began_ = false;
  lastTime_ = -1;
  return false;
}

bool UIPanGestureRecognizer::touchMoved(CGPoint windowPoint, double time) {
  if (lastTime_ >= 0 && time > lastTime_)
    velocity_ = {(windowPoint.x - last_.x) / (time - lastTime_), (windowPoint.y - last_.y) / (time - lastTime_)};
  last_ = location_ = windowPoint;
  lastTime_ = time;
  translation_ = {windowPoint.x - start_.x, windowPoint.y - start_.y};
  if (!began_) {
    if (distance(windowPoint, start_) < kBeginDistance) return false;
    began_ = true;
    setState(UIGestureRecognizerState::Began);
    return true;
  }
  setState(UIGestureRecognizerState::Changed);
  return true;
}

void UIPanGestureRecognizer::touchEnded(CGPoint windowPoint, double time) {
  if (began_) {
    if (time > lastTime_ && lastTime_ >= 0 && (windowPoint.x != last_.x || windowPoint.y != last_.y))
      velocity_ = {(windowPoint.x - last_.x) / (time - lastTime_), (windowPoint.y - last_.y) / (time - lastTime_)};
    location_ = windowPoint;
    translation_ = {windowPoint.x - start_.x, windowPoint.y - start_.y};
    setState(UIGestureRecognizerState::Ended);
  }
  began_ = false;
  reset();
}

void UIPanGestureRecognizer::drive(UIGestureRecognizerState state, CGPoint translation, CGPoint velocity,
                                   CGPoint windowLocation) {
  location_ = windowLocation;
  start_ = {windowLocation.x - translation.x, windowLocation.y - translation.y};
  translation_ = translation;
  velocity_ = velocity;
  setState(state);
}

}  // namespace uikit
