#include "platform/uikit/DynamicAnimator.h"

#include <algorithm>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/uikit/View.h"

namespace uikit {

std::shared_ptr<UIDynamicItemBehavior> UIDynamicItemBehavior::create(const std::vector<std::shared_ptr<UIView>>& items) {
  auto b = std::shared_ptr<UIDynamicItemBehavior>(new UIDynamicItemBehavior());
  for (const auto& v : items)
    if (v) b->items_.push_back({v, v.get(), {}, 0});
  return b;
}

UIDynamicItemBehavior::Item* UIDynamicItemBehavior::find(const UIView* item) {
  for (auto& i : items_)
    if (i.identity == item) return &i;
  return nullptr;
}

void UIDynamicItemBehavior::addLinearVelocity(CGPoint v, const UIView* item) {
  if (auto* i = find(item)) i->velocity = {i->velocity.x + v.x, i->velocity.y + v.y};
}

CGPoint UIDynamicItemBehavior::linearVelocityForItem(const UIView* item) const {
  for (const auto& i : items_)
    if (i.identity == item) return i.velocity;
  return {};
}

void UIDynamicItemBehavior::addAngularVelocity(double w, const UIView* item) {
  if (auto* i = find(item)) i->angular += w;
}

double UIDynamicItemBehavior::angularVelocityForItem(const UIView* item) const {
  for (const auto& i : items_)
    if (i.identity == item) return i.angular;
  return 0;
}

void UIDynamicItemBehavior::step(double dt) {
  for (auto& i : items_) {
    auto view = i.view.lock();
    if (!view) continue;
    CGPoint c = view->center();
    view->setCenter({c.x + i.velocity.x * dt, c.y + i.velocity.y * dt});
    if (allowsRotation && i.angular != 0) view->setTransform(view->transform().rotatedBy(i.angular * dt));
  }
}

std::shared_ptr<UIAttachmentBehavior> UIAttachmentBehavior::create(const std::shared_ptr<UIView>& item,
                                                                   CGPoint offsetFromCenter, CGPoint anchorPoint) {
  auto b = std::shared_ptr<UIAttachmentBehavior>(new UIAttachmentBehavior());
  b->item_ = item;
  b->offset_ = offsetFromCenter;
  b->anchorPoint = anchorPoint;
  return b;
}

void UIAttachmentBehavior::step(double) {
  if (auto view = item_.lock()) view->setCenter({anchorPoint.x - offset_.x, anchorPoint.y - offset_.y});
}

std::shared_ptr<UIDynamicAnimator> UIDynamicAnimator::create(const std::shared_ptr<UIView>& referenceView) {
  auto a = std::shared_ptr<UIDynamicAnimator>(new UIDynamicAnimator());
  a->reference_ = referenceView;
  return a;
}

void UIDynamicAnimator::addBehavior(const std::shared_ptr<UIDynamicBehavior>& behavior) {
  if (!behavior || std::find(behaviors_.begin(), behaviors_.end(), behavior) != behaviors_.end()) return;
  behaviors_.push_back(behavior);
  scheduleStep();
}

void UIDynamicAnimator::removeBehavior(const std::shared_ptr<UIDynamicBehavior>& behavior) {
  behaviors_.erase(std::remove(behaviors_.begin(), behaviors_.end(), behavior), behaviors_.end());
}

void UIDynamicAnimator::removeAllBehaviors() {
  behaviors_.clear();
  ++generation_;
  scheduled_ = false;
}

void UIDynamicAnimator::scheduleStep() {
  if (scheduled_ || behaviors_.empty()) return;
  scheduled_ = true;
  std::weak_ptr<UIDynamicAnimator> weak = weak_from_this();
  auto generation = generation_;
  dispatch::DispatchQueue::main()->asyncAfter(kStep, [weak, generation] {
    auto self = weak.lock();
    if (!self || self->generation_ != generation) return;
    self->scheduled_ = false;
    self->runStep();
    self->scheduleStep();
  });
}

void UIDynamicAnimator::runStep() {
  // Free motion first, then attachments, so an attached item ends the step on its anchor.
  auto behaviors = behaviors_;
  for (auto& b : behaviors)
    if (!dynamic_cast<UIAttachmentBehavior*>(b.get())) b->step(kStep);
  for (auto& b : behaviors)
    if (dynamic_cast<UIAttachmentBehavior*>(b.get())) b->step(kStep);
  for (auto& b : behaviors)
    if (b->action) b->action();
}

}  // namespace uikit
