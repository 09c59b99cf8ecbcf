#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/uikit/Geometry.h"

namespace uikit {

class UIView;
class NSLayoutConstraint;
namespace detail { class LayoutEngine; }

/// Raw values as the platform numbers them.
enum class NSLayoutAttribute : int {
  NotAnAttribute = 0, Left = 1, Right = 2, Top = 3, Bottom = 4, Leading = 5, Trailing = 6, Width = 7,
  Height = 8, CenterX = 9, CenterY = 10, LastBaseline = 11, FirstBaseline = 12, LeftMargin = 13,
  RightMargin = 14, TopMargin = 15, BottomMargin = 16, LeadingMargin = 17, TrailingMargin = 18,
  CenterXWithinMargins = 19, CenterYWithinMargins = 20,
};
enum class NSLayoutRelation : int { LessThanOrEqual = -1, Equal = 0, GreaterThanOrEqual = 1 };
enum class UILayoutConstraintAxis : int { Horizontal = 0, Vertical = 1 };

/// Priorities run from 1 to 1000; 1000 is required.
using UILayoutPriority = float;
inline constexpr UILayoutPriority UILayoutPriorityRequired = 1000;
inline constexpr UILayoutPriority UILayoutPriorityDefaultHigh = 750;
inline constexpr UILayoutPriority UILayoutPriorityDefaultLow = 250;
/// An intrinsic size of "none" on one axis.
inline constexpr CGFloat UIViewNoIntrinsicMetric = -1;

class LayoutItem;

/// One edge, centre or dimension of a view or layout guide, from which constraints are made.
class NSLayoutAnchor {
 public:
  NSLayoutAnchor(LayoutItem* item, NSLayoutAttribute attribute) : item_(item), attribute_(attribute) {}
  LayoutItem* item() const { return item_; }
  NSLayoutAttribute attribute() const { return attribute_; }

  std::shared_ptr<NSLayoutConstraint> constraintEqualTo(const NSLayoutAnchor& other, CGFloat constant = 0) const;
  std::shared_ptr<NSLayoutConstraint> constraintGreaterThanOrEqualTo(const NSLayoutAnchor& other,
                                                                     CGFloat constant = 0) const;
  std::shared_ptr<NSLayoutConstraint> constraintLessThanOrEqualTo(const NSLayoutAnchor& other,
                                                                  CGFloat constant = 0) const;
  /// Dimension anchors: a fixed size, or a multiple of another dimension.
  std::shared_ptr<NSLayoutConstraint> constraintEqualToConstant(CGFloat constant) const;
  std::shared_ptr<NSLayoutConstraint> constraintGreaterThanOrEqualToConstant(CGFloat constant) const;
  std::shared_ptr<NSLayoutConstraint> constraintLessThanOrEqualToConstant(CGFloat constant) const;
  std::shared_ptr<NSLayoutConstraint> constraintEqualTo(const NSLayoutAnchor& other, CGFloat multiplier,
                                                        CGFloat constant) const;

 private:
  LayoutItem* item_;
  NSLayoutAttribute attribute_;
};

/// Something constraints can name: a view or a layout guide.
class LayoutItem {
 public:
  virtual ~LayoutItem();
  /// The view this item belongs to (a view: itself).
  virtual UIView* owningView() const = 0;
  /// Expires when the item is destroyed, so constraints never touch a dead item.
  virtual std::weak_ptr<const void> lifetime() const = 0;

  NSLayoutAnchor leadingAnchor() { return {this, NSLayoutAttribute::Leading}; }
  NSLayoutAnchor trailingAnchor() { return {this, NSLayoutAttribute::Trailing}; }
  NSLayoutAnchor leftAnchor() { return {this, NSLayoutAttribute::Left}; }
  NSLayoutAnchor rightAnchor() { return {this, NSLayoutAttribute::Right}; }
  NSLayoutAnchor topAnchor() { return {this, NSLayoutAttribute::Top}; }
  NSLayoutAnchor bottomAnchor() { return {this, NSLayoutAttribute::Bottom}; }
  NSLayoutAnchor widthAnchor() { return {this, NSLayoutAttribute::Width}; }
  NSLayoutAnchor heightAnchor() { return {this, NSLayoutAttribute::Height}; }
  NSLayoutAnchor centerXAnchor() { return {this, NSLayoutAttribute::CenterX}; }
  NSLayoutAnchor centerYAnchor() { return {this, NSLayoutAttribute::CenterY}; }

  /// The active constraints that name this item.
  const std::vector<NSLayoutConstraint*>& referencingConstraints() const { return referencing_; }

 private:
  friend class NSLayoutConstraint;
  friend class UIView;
  std::vector<NSLayoutConstraint*> referencing_;
};

/// A rectangle that takes part in layout without being a view. The margins and safe-area guides
/// of a view follow its insets; guides added with addLayoutGuide are placed by constraints.
class UILayoutGuide : public LayoutItem, public std::enable_shared_from_this<UILayoutGuide> {
 public:
  enum class Kind { Custom, LayoutMargins, SafeArea };
  static std::shared_ptr<UILayoutGuide> create() { return std::shared_ptr<UILayoutGuide>(new UILayoutGuide(Kind::Custom)); }

  UIView* owningView() const override { return owner_; }
  std::weak_ptr<const void> lifetime() const override { return weak_from_this(); }
  Kind kind() const { return kind_; }
  /// The guide's rectangle in its owning view's coordinates, as of the last layout pass.
  CGRect layoutFrame() const { return layoutFrame_; }
  std::string identifier;

 private:
  friend class UIView;
  friend class detail::LayoutEngine;
  explicit UILayoutGuide(Kind kind) : kind_(kind) {}
  Kind kind_;
  UIView* owner_ = nullptr;
  CGRect layoutFrame_;
};

/// first.attribute (relation) multiplier × second.attribute + constant, at a priority. An
/// active constraint is held by the nearest common ancestor of its views (or the view it was
/// added to) and takes part in that tree's layout.
class NSLayoutConstraint : public std::enable_shared_from_this<NSLayoutConstraint> {
 public:
  static std::shared_ptr<NSLayoutConstraint> constraintWithItem(LayoutItem* item, NSLayoutAttribute attribute,
                                                                NSLayoutRelation relation, LayoutItem* toItem,
                                                                NSLayoutAttribute toAttribute, CGFloat multiplier,
                                                                CGFloat constant);
  ~NSLayoutConstraint();

  /// Constraints from a visual format such as "H:|-(8)-[a]-[b(==40@750)]-|" ("H:" or "V:",
  /// "|" for the superview, "-" for standard spacing, "-(N)-" or "-METRIC-" for a given one,
  /// "[name(predicates)]" for a view and its size). Names come from `views`, named numbers
  /// from `metrics`. A format that does not parse, or names something unknown, is an error.
  static foundation::Result<std::vector<std::shared_ptr<NSLayoutConstraint>>> constraintsWithVisualFormat(
      const std::string& format, const std::map<std::string, CGFloat>& metrics,
      const std::map<std::string, std::shared_ptr<UIView>>& views);

  static void activateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);
  static void deactivateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);

  LayoutItem* firstItem() const { return first_; }
  NSLayoutAttribute firstAttribute() const { return firstAttribute_; }
  NSLayoutRelation relation() const { return relation_; }
  LayoutItem* secondItem() const { return second_; }
  NSLayoutAttribute secondAttribute() const { return secondAttribute_; }
  CGFloat multiplier() const { return multiplier_; }
  CGFloat constant() const { return constant_; }
  void setConstant(CGFloat constant);
  UILayoutPriority priority() const { return priority_; }
  /// Clamped to 1…1000.
  void setPriority(UILayoutPriority priority);
  bool isActive() const { return owner_ != nullptr; }
  void setActive(bool active);
  /// The view holding the active constraint.
  UIView* owner() const { return owner_; }
  /// True while the layout solves this required constraint as optional because it conflicted.
  bool isDemoted() const { return demoted_; }
  std::string identifier;
  /// A short readable form, for logs: "<view>.width == 500 @950".
  std::string description() const;

 private:
  friend class UIView;
  friend class detail::LayoutEngine;
  NSLayoutConstraint() = default;
  /// Joins `view`'s list of constraints (activation picks the common ancestor).
  void install(UIView* view);
  void uninstall();
  bool itemsAlive() const;
  void changed();

  LayoutItem* first_ = nullptr;
  LayoutItem* second_ = nullptr;
  std::weak_ptr<const void> firstLife_, secondLife_;
  NSLayoutAttribute firstAttribute_ = NSLayoutAttribute::NotAnAttribute;
  NSLayoutAttribute secondAttribute_ = NSLayoutAttribute::NotAnAttribute;
  NSLayoutRelation relation_ = NSLayoutRelation::Equal;
  CGFloat multiplier_ = 1;
  CGFloat constant_ = 0;
  UILayoutPriority priority_ = UILayoutPriorityRequired;
  UIView* owner_ = nullptr;
  // Where the constraint is solved now; set by the engine.
  detail::LayoutEngine* engine_ = nullptr;
  bool demoted_ = false;
};

}  // namespace uikit
