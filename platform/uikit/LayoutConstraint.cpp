#include "platform/uikit/LayoutConstraint.h"

#include <algorithm>
#include <cstdio>

#include "platform/uikit/View.h"
#include "platform/uikit/detail/LayoutEngine.h"

namespace uikit {
namespace {

const char* attributeName(NSLayoutAttribute a) {
  switch (a) {
    case NSLayoutAttribute::Left: return "left";
    case NSLayoutAttribute::Right: return "right";
    case NSLayoutAttribute::Top: return "top";
    case NSLayoutAttribute::Bottom: return "bottom";
    case NSLayoutAttribute::Leading: return "leading";
    case NSLayoutAttribute::Trailing: return "trailing";
    case NSLayoutAttribute::Width: return "width";
    case NSLayoutAttribute::Height: return "height";
    case NSLayoutAttribute::CenterX: return "centerX";
    case NSLayoutAttribute::CenterY: return "centerY";
    case NSLayoutAttribute::LastBaseline: return "lastBaseline";
    case NSLayoutAttribute::FirstBaseline: return "firstBaseline";
    case NSLayoutAttribute::LeftMargin: return "leftMargin";
    case NSLayoutAttribute::RightMargin: return "rightMargin";
    case NSLayoutAttribute::TopMargin: return "topMargin";
    case NSLayoutAttribute::BottomMargin: return "bottomMargin";
    case NSLayoutAttribute::LeadingMargin: return "leadingMargin";
    case NSLayoutAttribute::TrailingMargin: return "trailingMargin";
    case NSLayoutAttribute::CenterXWithinMargins: return "centerXWithinMargins";
    case NSLayoutAttribute::CenterYWithinMargins: return "centerYWithinMargins";
    case NSLayoutAttribute::NotAnAttribute: break;
  }
  return "notAnAttribute";
}

/// The nearest view holding both items (or the one view when there is no second item).
UIView* commonAncestor(UIView* a, UIView* b) {
  if (!a) return b;
  if (!b) return a;
  for (UIView* v = a; v; v = v->superviewPointer())
    if (b->isDescendantOfView(v)) return v;
  return nullptr;
}

std::shared_ptr<NSLayoutConstraint> make(const NSLayoutAnchor& a, NSLayoutRelation r, const NSLayoutAnchor* b,
                                         CGFloat multiplier, CGFloat constant) {
  return NSLayoutConstraint::constraintWithItem(a.item(), a.attribute(), r, b ? b->item() : nullptr,
                                                b ? b->attribute() : NSLayoutAttribute::NotAnAttribute, multiplier,
                                                constant);
}

}  // namespace

LayoutItem::~LayoutItem() = default;

std::shared_ptr<NSLayoutConstraint> NSLayoutAnchor::constraintEqualTo(const NSLayoutAnchor& other, CGFloat c) const {
  return make(*this, NSLayoutRelation::Equal, &other, 1, c);
}
std::shared_ptr<NSLayoutConstraint> NSLayoutAnchor::constraintGreaterThanOrEqualTo(const NSLayoutAnchor& other,
                                                                                   CGFloat c) const {
  return make(*this, NSLayoutRelation::GreaterThanOrEqual, &other, 1, c);
}
std::shared_ptr<NSLayoutConstraint> NSLayoutAnchor::constraintLessThanOrEqualTo(const NSLayoutAnchor& other,
                                                                                CGFloat c) const {
  return make(*this, NSLayoutRelation::LessThanOrEqual, &other, 1, c);
}
std::shared_ptr<NSLayoutConstraint> NSLayoutAnchor::constraintEqualToConstant(CGFloat c) const {
  return make(*this, NSLayoutRelation::Equal, nullptr, 1, c);
}
std::shared_ptr<NSLayoutConstraint> NSLayoutAnchor::constraintGreaterThanOrEqualToConstant(CGFloat c) const {
  return make(*this, NSLayoutRelation::GreaterThanOrEqual, nullptr, 1, c);
}
std::shared_ptr<NSLayoutConstraint> NSLayoutAnchor::constraintLessThanOrEqualToConstant(CGFloat c) const {
  return make(*this, NSLayoutRelation::LessThanOrEqual, nullptr, 1, c);
}
std::shared_ptr<NSLayoutConstraint> NSLayoutAnchor::constraintEqualTo(const NSLayoutAnchor& other, CGFloat m,
                                                                      CGFloat c) const {
  return make(*this, NSLayoutRelation::Equal, &other, m, c);
}

std::shared_ptr<NSLayoutConstraint> NSLayoutConstraint::constraintWithItem(LayoutItem* item, NSLayoutAttribute attribute,
                                                                           NSLayoutRelation relation, LayoutItem* toItem,
                                                                           NSLayoutAttribute toAttribute,
                                                                           CGFloat multiplier, CGFloat constant) {
  auto c = std::shared_ptr<NSLayoutConstraint>(new NSLayoutConstraint());
  c->first_ = item;
  c->firstAttribute_ = attribute;
  c->relation_ = relation;
  c->second_ = toAttribute == NSLayoutAttribute::NotAnAttribute ? nullptr : toItem;
  c->secondAttribute_ = c->second_ ? toAttribute : NSLayoutAttribute::NotAnAttribute;
  c->multiplier_ = multiplier;
  c->constant_ = constant;
  if (c->first_) c->firstLife_ = c->first_->lifetime();
  if (c->second_) c->secondLife_ = c->second_->lifetime();
  return c;
}

NSLayoutConstraint::~NSLayoutConstraint() {
  // An active constraint is held by its owner, so only an inactive one can die; it is in no list.
}

bool NSLayoutConstraint::itemsAlive() const {
  if (!first_ || firstLife_.expired()) return false;
  return !second_ || !secondLife_.expired();
}

void NSLayoutConstraint::setActive(bool active) {
  if (active == isActive()) return;
  if (!active) {
    uninstall();
    return;
  }
  if (!itemsAlive()) return;
  UIView* owner = commonAncestor(first_->owningView(), second_ ? second_->owningView() : nullptr);
  // Items in different trees have no common ancestor: the platform refuses such a constraint.
  if (owner) install(owner);
}

void NSLayoutConstraint::activateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
  for (const auto& c : constraints)
    if (c) c->setActive(true);
}

void NSLayoutConstraint::deactivateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
  for (const auto& c : constraints)
    if (c) c->setActive(false);
}

void NSLayoutConstraint::install(UIView* view) {
  if (owner_ == view || !itemsAlive()) return;
  if (owner_) uninstall();
  owner_ = view;
  view->constraints_.push_back(shared_from_this());
  first_->referencing_.push_back(this);
  if (second_ && second_ != first_) second_->referencing_.push_back(this);
  view->setNeedsLayout();
}

void NSLayoutConstraint::uninstall() {
  if (!owner_) return;
  auto keep = shared_from_this();
  if (engine_) engine_->dropConstraint(this);
  auto unref = [this](LayoutItem* item) {
    auto& list = item->referencing_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  };
  if (!firstLife_.expired()) unref(first_);
  if (second_ && second_ != first_ && !secondLife_.expired()) unref(second_);
  UIView* owner = owner_;
  owner_ = nullptr;
  auto& list = owner->constraints_;
  list.erase(std::remove_if(list.begin(), list.end(), [this](const auto& c) { return c.get() == this; }), list.end());
  owner->setNeedsLayout();
}

void NSLayoutConstraint::changed() {
  if (engine_) engine_->dropConstraint(this);
  if (owner_) owner_->setNeedsLayout();
}

void NSLayoutConstraint::setConstant(CGFloat constant) {
  constant_ = constant;
  if (engine_) engine_->constantChanged(this);
  if (owner_) owner_->setNeedsLayout();
}

void NSLayoutConstraint::setPriority(UILayoutPriority priority) {
  priority_ = std::clamp(priority, 1.0f, 1000.0f);
  changed();
}

std::string NSLayoutConstraint::description() const {
  auto name = [](LayoutItem* item, const std::weak_ptr<const void>& life) -> std::string {
    if (!item || life.expired()) return "nil";
    char b[64];
    std::snprintf(b, sizeof b, "%p", static_cast<const void*>(item));
    return b;
  };
  const char* rel = relation_ == NSLayoutRelation::Equal ? "==" : relation_ == NSLayoutRelation::LessThanOrEqual ? "<=" : ">=";
  char text[256];
  if (second_) {
    std::snprintf(text, sizeof text, "%s.%s %s %g * %s.%s + %g @%g", name(first_, firstLife_).c_str(),
                  attributeName(firstAttribute_), rel, multiplier_, name(second_, secondLife_).c_str(),
                  attributeName(secondAttribute_), constant_, priority_);
  } else {
    std::snprintf(text, sizeof text, "%s.%s %s %g @%g", name(first_, firstLife_).c_str(), attributeName(firstAttribute_),
                  rel, constant_, priority_);
  }
  return identifier.empty() ? text : "'" + identifier + "' " + text;
}

}  // namespace uikit
