#pragma once
#include <functional>
#include <memory>
#include <vector>

#include "platform/uikit/Geometry.h"

namespace uikit {

class UIView;
class UIDynamicAnimator;

/// Something that acts on items at every step of a dynamic animator.
class UIDynamicBehavior : public std::enable_shared_from_this<UIDynamicBehavior> {
 public:
  virtual ~UIDynamicBehavior() = default;
  /// Called after every step the behaviour takes part in.
  std::function<void()> action;

 protected:
  friend class UIDynamicAnimator;
  /// Moves the items by one step of `dt` seconds.
  virtual void step(double dt) = 0;
};

/// Free motion: each item moves with its linear velocity (points per second) and, when rotation
/// is allowed, turns with its angular velocity (radians per second), without resistance.
class UIDynamicItemBehavior : public UIDynamicBehavior {
 public:
  static std::shared_ptr<UIDynamicItemBehavior> create(const std::vector<std::shared_ptr<UIView>>& items);
  bool allowsRotation = true;
  void addLinearVelocity(CGPoint velocity, const UIView* item);
  CGPoint linearVelocityForItem(const UIView* item) const;
  void addAngularVelocity(double velocity, const UIView* item);
  double angularVelocityForItem(const UIView* item) const;

 protected:
  void step(double dt) override;

 private:
  struct Item {
    std::weak_ptr<UIView> view;
    const UIView* identity;
    CGPoint velocity;
    double angular = 0;
  };
  Item* find(const UIView* item);
  std::vector<Item> items_;
};

/// Holds an item rigidly to an anchor: the item's point at `offset` from its centre stays on the
/// anchor point.
class UIAttachmentBehavior : public UIDynamicBehavior {
 public:
  static std::shared_ptr<UIAttachmentBehavior> create(const std::shared_ptr<UIView>& item, CGPoint offsetFromCenter,
                                                      CGPoint anchorPoint);
  CGPoint anchorPoint;

 protected:
  void step(double dt) override;

 private:
  std::weak_ptr<UIView> item_;
  CGPoint offset_;
};

/// Runs behaviours in fixed steps of 1/60 s on the process clock, on the main queue, while it has
/// any; items' centres and transforms are written back at every step. Removing every behaviour
/// stops it where the items are.
class UIDynamicAnimator : public std::enable_shared_from_this<UIDynamicAnimator> {
 public:
  static constexpr double kStep = 1.0 / 60.0;
  static std::shared_ptr<UIDynamicAnimator> create(const std::shared_ptr<UIView>& referenceView);

  void addBehavior(const std::shared_ptr<UIDynamicBehavior>& behavior);
  void removeBehavior(const std::shared_ptr<UIDynamicBehavior>& behavior);
  void removeAllBehaviors();
  const std::vector<std::shared_ptr<UIDynamicBehavior>>& behaviors() const { return behaviors_; }
  bool isRunning() const { return !behaviors_.empty(); }
  std::shared_ptr<UIView> referenceView() const { return reference_.lock(); }

 private:
  UIDynamicAnimator() = default;
  void scheduleStep();
  void runStep();

  std::weak_ptr<UIView> reference_;
  std::vector<std::shared_ptr<UIDynamicBehavior>> behaviors_;
  bool scheduled_ = false;
  std::uint64_t generation_ = 0;
};

}  // namespace uikit
