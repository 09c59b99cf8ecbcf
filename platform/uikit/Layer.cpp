#include "platform/uikit/Layer.h"

#include <algorithm>
#include <cmath>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/uikit/Transaction.h"
#include "platform/uikit/detail/AnimationTracker.h"

namespace uikit {
namespace {

/// From `layer`'s bounds coordinates to the coordinates of the root of its tree.
CGAffineTransform transformToRoot(const CALayer* layer) {
  CGAffineTransform t;
  for (const CALayer* l = layer; l; ) {
    t = t.concat(l->transformToSuperlayer());
    auto up = l->superlayer();
    l = up.get();
  }
  return t;
}

const CALayer* rootOf(const CALayer* layer) {
  const CALayer* l = layer;
  while (auto up = l->superlayer()) l = up.get();
  return l;
}

}  // namespace

std::shared_ptr<CALayer> CALayer::create() { return std::shared_ptr<CALayer>(new CALayer()); }

CGAffineTransform CALayer::transformToSuperlayer() const {
  CGFloat ax = bounds_.origin.x + anchorPoint_.x * bounds_.size.width;
  CGFloat ay = bounds_.origin.y + anchorPoint_.y * bounds_.size.height;
  return CGAffineTransform::makeTranslation(-ax, -ay)
      .concat(transform_.affine())
      .concat(CGAffineTransform::makeTranslation(position_.x, position_.y));
}

CGRect CALayer::frame() const { return transformToSuperlayer().apply(bounds_); }

void CALayer::setFrame(const CGRect& f0) {
  CGRect f = f0.standardized();
  bounds_.size = f.size;
  position_ = {f.origin.x + anchorPoint_.x * f.size.width, f.origin.y + anchorPoint_.y * f.size.height};
}

std::size_t CALayer::indexOf(const CALayer* sublayer) const {
  for (std::size_t i = 0; i < sublayers_.size(); ++i)
    if (sublayers_[i].get() == sublayer) return i;
  return sublayers_.size();
}

void CALayer::addSublayer(const std::shared_ptr<CALayer>& layer) { insertSublayer(layer, sublayers_.size()); }

void CALayer::insertSublayer(const std::shared_ptr<CALayer>& layer, std::size_t index) {
  if (!layer || layer.get() == this) return;
  auto keep = layer;
  layer->removeFromSuperlayer();
  index = std::min(index, sublayers_.size());
  sublayers_.insert(sublayers_.begin() + static_cast<std::ptrdiff_t>(index), layer);
  layer->superlayer_ = weak_from_this();
}

void CALayer::insertSublayerBelow(const std::shared_ptr<CALayer>& layer, const CALayer* sibling) {
  if (layer.get() == sibling) return;
  auto keep = layer;
  if (layer) layer->removeFromSuperlayer();
  std::size_t i = indexOf(sibling);
  insertSublayer(layer, i == sublayers_.size() ? 0 : i);
}

void CALayer::insertSublayerAbove(const std::shared_ptr<CALayer>& layer, const CALayer* sibling) {
  if (layer.get() == sibling) return;
  auto keep = layer;
  if (layer) layer->removeFromSuperlayer();
  std::size_t i = indexOf(sibling);
  insertSublayer(layer, i == sublayers_.size() ? sublayers_.size() : i + 1);
}

void CALayer::removeFromSuperlayer() {
  auto parent = superlayer_.lock();
  superlayer_.reset();
  if (!parent) return;
  auto& list = parent->sublayers_;
  list.erase(std::remove_if(list.begin(), list.end(), [this](const auto& l) { return l.get() == this; }), list.end());
}

CGPoint CALayer::convertPointToLayer(CGPoint point, const CALayer* layer) const {
  CGPoint inRoot = transformToRoot(this).apply(point);
  if (!layer) return inRoot;
  if (rootOf(layer) != rootOf(this)) return point;
  return transformToRoot(layer).inverted().apply(inRoot);
}

CGPoint CALayer::convertPointFromLayer(CGPoint point, const CALayer* layer) const {
  if (!layer) return transformToRoot(this).inverted().apply(point);
  return layer->convertPointToLayer(point, this);
}

CGRect CALayer::convertRectToLayer(const CGRect& rect, const CALayer* layer) const {
  CGAffineTransform t = transformToRoot(this);
  if (layer) {
    if (rootOf(layer) != rootOf(this)) return rect;
    t = t.concat(transformToRoot(layer).inverted());
  }
  return t.apply(rect);
}

CGRect CALayer::convertRectFromLayer(const CGRect& rect, const CALayer* layer) const {
  if (!layer) return transformToRoot(this).inverted().apply(rect);
  return layer->convertRectToLayer(rect, this);
}

void CALayer::addAnimation(const std::shared_ptr<CAAnimation>& animation, const std::string& key0) {
  if (!animation) return;
  std::uint64_t serial = nextSerial_++;
  std::string key = key0.empty() ? "\x01anonymous-" + std::to_string(serial) : key0;
  removeAnimation(key);
  Record record;
  record.key = key;
  record.animation = animation->copy();
  double now = CACurrentMediaTime();
  record.start = animation->beginTime > 0 ? animation->beginTime : now;
  record.serial = serial;
  record.trackers = CATransaction::openTrackers();
  for (const auto& t : detail::blockTrackerStack()) record.trackers.push_back(t);
  for (const auto& t : record.trackers) t->animationAdded();
  double end = record.start + record.animation->activeDuration();
  records_.push_back(std::move(record));
  if (std::isfinite(end)) {
    std::weak_ptr<CALayer> weak = weak_from_this();
    dispatch::DispatchQueue::main()->asyncAfter(std::max(0.0, end - now), [weak, serial] {
      if (auto layer = weak.lock()) layer->animationEnded(serial);
    });
  }
}

void CALayer::animationEnded(std::uint64_t serial) {
  auto it = std::find_if(records_.begin(), records_.end(), [&](const Record& r) { return r.serial == serial; });
  if (it == records_.end()) return;
  Record record = *it;
  if (record.animation->removedOnCompletion) records_.erase(it);
  else it->trackers.clear();
  reportStop(std::move(record), true);
}

void CALayer::reportStop(Record record, bool finished) {
  // Stops are reported on the main queue, after the change that caused them, as the platform's
  // delegate callbacks are.
  dispatch::DispatchQueue::main()->async([record = std::move(record), finished] {
    if (record.animation->completion) record.animation->completion(finished);
    for (const auto& t : record.trackers) t->animationStopped(finished);
  });
}

void CALayer::removeAnimation(const std::string& key) {
  auto it = std::find_if(records_.begin(), records_.end(), [&](const Record& r) { return r.key == key; });
  if (it == records_.end()) return;
  Record record = std::move(*it);
  records_.erase(it);
  if (!record.trackers.empty() || record.animation->completion) reportStop(std::move(record), false);
}

void CALayer::removeAllAnimations() {
  auto records = std::move(records_);
  records_.clear();
  for (auto& r : records) reportStop(std::move(r), false);
}

std::vector<std::string> CALayer::animationKeys() const {
  std::vector<std::string> keys;
  for (const auto& r : records_)
    if (r.key.empty() || r.key[0] != '\x01') keys.push_back(r.key);
  return keys;
}

std::shared_ptr<const CAAnimation> CALayer::animationForKey(const std::string& key) const {
  for (const auto& r : records_)
    if (r.key == key) return r.animation;
  return nullptr;
}

std::optional<double> CALayer::animationStartTime(const std::string& key) const {
  for (const auto& r : records_)
    if (r.key == key) return r.start;
  return std::nullopt;
}

AnimationValue CALayer::valueForKeyPath(const std::string& k) const {
  if (k == "position") return position_;
  if (k == "position.x") return position_.x;
  if (k == "position.y") return position_.y;
  if (k == "bounds") return bounds_;
  if (k == "bounds.size") return bounds_.size;
  if (k == "bounds.origin") return bounds_.origin;
  if (k == "anchorPoint") return anchorPoint_;
  if (k == "transform") return transform_;
  if (k == "transform.rotation" || k == "transform.rotation.z") return std::atan2(transform_.m12, transform_.m11);
  if (k == "transform.scale" || k == "transform.scale.x") return std::hypot(transform_.m11, transform_.m12);
  if (k == "transform.scale.y") return std::hypot(transform_.m21, transform_.m22);
  if (k == "opacity") return opacity_;
  if (k == "cornerRadius") return cornerRadius_;
  if (k == "borderWidth") return borderWidth_;
  if (k == "shadowOpacity") return shadowOpacity_;
  if (k == "shadowRadius") return shadowRadius_;
  if (k == "shadowOffset") return shadowOffset_;
  auto color = [](const std::optional<UIColor>& c) -> AnimationValue {
    if (c) return *c;
    return std::monostate{};
  };
  if (k == "backgroundColor") return color(backgroundColor_);
  if (k == "borderColor") return color(borderColor_);
  if (k == "shadowColor") return color(shadowColor_);
  if (k == "shadowPath") return shadowPath_ ? AnimationValue(*shadowPath_) : AnimationValue();
  return std::monostate{};
}

AnimationValue CALayer::presentationValue(const std::string& keyPath, double time) const {
  AnimationValue value = valueForKeyPath(keyPath);
  const bool wholeTransform = keyPath == "transform";
  for (const auto& r : records_) {
    const auto& a = *r.animation;
    double local = time - r.start;
    if (a.animates(keyPath)) {
      if (auto v = a.valueAt(keyPath, local, value)) value = *v;
      continue;
    }
    if (!wholeTransform) continue;
    // Rotation and scale animations act on the whole transform as the platform composes them.
    for (const char* part : {"transform.rotation", "transform.rotation.z", "transform.scale"}) {
      if (!a.animates(part)) continue;
      auto v = a.valueAt(part, local, valueForKeyPath(part));
      auto n = v ? numberOf(*v) : std::nullopt;
      if (!n) continue;
      CATransform3D extra = std::string(part) == "transform.scale" ? CATransform3D::makeScale(*n, *n, 1)
                                                                   : CATransform3D::makeRotation(*n);
      value = extra.concat(std::get<CATransform3D>(value));
    }
  }
  return value;
}

std::shared_ptr<CAShapeLayer> CAShapeLayer::create() { return std::shared_ptr<CAShapeLayer>(new CAShapeLayer()); }

AnimationValue CAShapeLayer::valueForKeyPath(const std::string& k) const {
  if (k == "path") return path_ ? AnimationValue(*path_) : AnimationValue();
  if (k == "fillColor") return fillColor_ ? AnimationValue(*fillColor_) : AnimationValue();
  if (k == "strokeColor") return strokeColor_ ? AnimationValue(*strokeColor_) : AnimationValue();
  if (k == "lineWidth") return lineWidth_;
  if (k == "strokeStart") return strokeStart_;
  if (k == "strokeEnd") return strokeEnd_;
  return CALayer::valueForKeyPath(k);
}

}  // namespace uikit
