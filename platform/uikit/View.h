#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uikit/Color.h"
#include "platform/uikit/Geometry.h"
#include "platform/uikit/Layer.h"
#include "platform/uikit/LayoutConstraint.h"
#include "platform/uikit/MediaTimingFunction.h"
#include "platform/uikit/Object.h"
#include "platform/uikit/TraitCollection.h"

namespace uikit {

class UIWindow;
class UIGestureRecognizer;
class UIViewController;
namespace detail { class LayoutEngine; }

/// Option bits of view animations, as the platform numbers them.
enum UIViewAnimationOptions : unsigned {
  UIViewAnimationOptionLayoutSubviews = 1u << 0,
  UIViewAnimationOptionAllowUserInteraction = 1u << 1,
  UIViewAnimationOptionBeginFromCurrentState = 1u << 2,
  UIViewAnimationOptionRepeat = 1u << 3,
  UIViewAnimationOptionAutoreverse = 1u << 4,
  UIViewAnimationOptionCurveEaseInOut = 0u << 16,
  UIViewAnimationOptionCurveEaseIn = 1u << 16,
  UIViewAnimationOptionCurveEaseOut = 2u << 16,
  UIViewAnimationOptionCurveLinear = 3u << 16,
};

/// Autoresizing bits, as the platform numbers them.
enum UIViewAutoresizing : unsigned {
  UIViewAutoresizingNone = 0,
  UIViewAutoresizingFlexibleLeftMargin = 1u << 0,
  UIViewAutoresizingFlexibleWidth = 1u << 1,
  UIViewAutoresizingFlexibleRightMargin = 1u << 2,
  UIViewAutoresizingFlexibleTopMargin = 1u << 3,
  UIViewAutoresizingFlexibleHeight = 1u << 4,
  UIViewAutoresizingFlexibleBottomMargin = 1u << 5,
};

/// A rectangle of the interface: geometry (kept on its backing layer), appearance, an ordered list
/// of subviews, layout by constraints, and the hooks subclasses override. Views are shared
/// objects; a view owns its subviews and its layer, and knows its superview weakly. Main thread
/// only.
class UIView : public NSObject, public LayoutItem, public std::enable_shared_from_this<UIView> {
 public:
  /// A view whose backing layer is `layer` (a shape layer for views that draw a path).
  explicit UIView(std::shared_ptr<CALayer> layer = CALayer::create());
  ~UIView() override;
  UIView(const UIView&) = delete;
  UIView& operator=(const UIView&) = delete;
  static std::shared_ptr<UIView> create(const CGRect& frame = {});

  /// The class name shown in descriptions.
  std::string className() const override { return "UIView"; }
  /// "<Class: 0xADDR; frame = (x y; w h); …>".
  std::string description() const;

  // Geometry.
  CGRect frame() const;
  void setFrame(const CGRect& frame);
  CGRect bounds() const { return layer_->bounds(); }
  void setBounds(const CGRect& bounds);
  CGPoint center() const { return layer_->position(); }
  void setCenter(CGPoint center);
  CGAffineTransform transform() const { return layer_->affineTransform(); }
  void setTransform(const CGAffineTransform& transform);
  const std::shared_ptr<CALayer>& layer() const { return layer_; }

  // Appearance.
  double alpha() const { return layer_->opacity(); }
  void setAlpha(double alpha);
  bool isHidden() const { return layer_->isHidden(); }
  void setHidden(bool hidden) { layer_->setHidden(hidden); }
  bool clipsToBounds() const { return layer_->masksToBounds(); }
  void setClipsToBounds(bool clips) { layer_->setMasksToBounds(clips); }
  const std::optional<UIColor>& backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(std::optional<UIColor> color);
  /// The own tint, else the nearest ancestor's, else the system tint.
  UIColor tintColor() const;
  /// Sets (or with nothing, clears) the own tint; this view and the descendants that inherit
  /// it get tintColorDidChange.
  void setTintColor(std::optional<UIColor> color);
  bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
  virtual void setUserInteractionEnabled(bool enabled) { userInteractionEnabled_ = enabled; }
  int tag = 0;

  // The tree.
  const std::vector<std::shared_ptr<UIView>>& subviews() const { return subviews_; }
  std::shared_ptr<UIView> superview() const { return superview_.lock(); }
  UIView* superviewPointer() const { return superviewRaw_; }
  /// The window this view is in, or null.
  UIWindow* window() const;
  void addSubview(const std::shared_ptr<UIView>& view);
  void insertSubview(const std::shared_ptr<UIView>& view, std::size_t index);
  void insertSubviewBelow(const std::shared_ptr<UIView>& view, const UIView* sibling);
  void insertSubviewAbove(const std::shared_ptr<UIView>& view, const UIView* sibling);
  void bringSubviewToFront(const UIView* view);
  void sendSubviewToBack(const UIView* view);
  /// Leaves the superview; constraints between this subtree and the rest are deactivated.
  void removeFromSuperview();
  /// True for the view itself and every view below it.
  bool isDescendantOfView(const UIView* view) const;

  // Coordinates. A null view means the window (or the root of the tree outside a window);
  // conversions go through every centre, bounds origin and transform on the way.
  CGPoint convertPointToView(CGPoint point, const UIView* view) const;
  CGPoint convertPointFromView(CGPoint point, const UIView* view) const;
  CGRect convertRectToView(const CGRect& rect, const UIView* view) const;
  CGRect convertRectFromView(const CGRect& rect, const UIView* view) const;

  // Hit testing: inside bounds; hidden, transparent and non-interactive views take no touches.
  virtual bool pointInside(CGPoint point) const;
  virtual std::shared_ptr<UIView> hitTest(CGPoint point);

  // Gesture recognisers, which see the touches of this view and its subviews first.
  void addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer);
  void removeGestureRecognizer(const UIGestureRecognizer* recognizer);
  const std::vector<std::shared_ptr<UIGestureRecognizer>>& gestureRecognizers() const { return recognizers_; }
  /// A tap that no control or recogniser took lifted on `origin`, this view or one of its
  /// subviews; a view that acts on it (a table selecting a row) returns true.
  virtual bool handleUnclaimedTap(UIView& /*origin*/) { return false; }

  // Accessibility, as stored values that assistive code and tests read.
  bool isAccessibilityElement = false;
  std::string accessibilityLabel;
  std::string accessibilityValue;
  std::string accessibilityHint;
  std::string accessibilityIdentifier;
  /// Bits of UIAccessibilityTraits.
  unsigned long long accessibilityTraits = 0;
  bool accessibilityViewIsModal = false;
  /// The elements of a container, in reading order; empty: the subviews.
  std::vector<std::weak_ptr<UIView>> accessibilityElements;

  // Safe area and margins.
  /// The part of this view that the window's safe insets cover, as insets of its bounds.
  UIEdgeInsets safeAreaInsets() const;
  UIEdgeInsets layoutMargins() const { return layoutMargins_; }
  void setLayoutMargins(const UIEdgeInsets& margins);
  bool preservesSuperviewLayoutMargins = false;
  bool insetsLayoutMarginsFromSafeArea = true;
  /// The margins in effect: own margins added to the safe-area insets (when it insets from the
  /// safe area) and, when it preserves its superview's margins, at least as deep as those.
  UIEdgeInsets effectiveLayoutMargins() const;
  UILayoutGuide& layoutMarginsGuide();
  UILayoutGuide& safeAreaLayoutGuide();
  void addLayoutGuide(const std::shared_ptr<UILayoutGuide>& guide);
  const std::vector<std::shared_ptr<UILayoutGuide>>& layoutGuides() const { return guides_; }

  // Traits.
  /// The window's collection with the nearest interface-style override applied.
  UITraitCollection traitCollection() const;
  UIUserInterfaceStyle overrideUserInterfaceStyle() const { return overrideStyle_; }
  void setOverrideUserInterfaceStyle(UIUserInterfaceStyle style);

  // Layout.
  bool translatesAutoresizingMaskIntoConstraints() const { return translatesAutoresizing_; }
  void setTranslatesAutoresizingMaskIntoConstraints(bool translates);
  unsigned autoresizingMask = UIViewAutoresizingNone;
  bool autoresizesSubviews = true;
  /// The constraints this view holds.
  const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints() const { return constraints_; }
  void addConstraint(const std::shared_ptr<NSLayoutConstraint>& constraint);
  void addConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);
  void removeConstraint(const std::shared_ptr<NSLayoutConstraint>& constraint);
  void removeConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);
  /// The natural size of the content; UIViewNoIntrinsicMetric on an axis without one.
  virtual CGSize intrinsicContentSize() const { return {UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric}; }
  void invalidateIntrinsicContentSize();
  UILayoutPriority contentHuggingPriority(UILayoutConstraintAxis axis) const;
  void setContentHuggingPriority(UILayoutPriority priority, UILayoutConstraintAxis axis);
  UILayoutPriority contentCompressionResistancePriority(UILayoutConstraintAxis axis) const;
  void setContentCompressionResistancePriority(UILayoutPriority priority, UILayoutConstraintAxis axis);
  virtual CGSize sizeThatFits(CGSize size) const;
  /// Resizes the view to sizeThatFits its current size, keeping its origin.
  void sizeToFit();
  void setNeedsLayout();
  bool needsLayout() const { return needsLayout_; }
  /// Solves the constraints of this view's tree and runs the pending layout passes, top-down.
  void layoutIfNeeded();
  void setNeedsUpdateConstraints();
  void updateConstraintsIfNeeded();

  // Hooks for subclasses.
  /// Places the subviews. The base places constrained subviews where the solution puts them;
  /// overrides call it first.
  virtual void layoutSubviews();
  /// Brings constraints up to date before a layout pass; overrides call the base.
  virtual void updateConstraints() {}
  virtual void willMoveToWindow(UIWindow* /*newWindow*/) {}
  virtual void didMoveToWindow() {}
  virtual void didMoveToSuperview() {}
  virtual void didAddSubview(UIView* /*view*/) {}
  virtual void willRemoveSubview(UIView* /*view*/) {}
  virtual void traitCollectionDidChange(const UITraitCollection& /*previous*/) {}
  virtual void tintColorDidChange() {}
  virtual void safeAreaInsetsDidChange() {}
  virtual void layoutMarginsDidChange() {}

  // Animations.
  /// Runs `animations` at once; every animatable change it makes (frame, bounds, centre,
  /// transform, alpha, background colour) also records a layer animation of that key path from
  /// the old to the new value. `completion` runs on the main queue when they all end (true), or
  /// with false when any was removed first; a block that animates nothing completes on the next
  /// main-queue turn.
  static void animate(double duration, double delay, unsigned options, const std::function<void()>& animations,
                      std::function<void(bool)> completion = {});
  static void animate(double duration, const std::function<void()>& animations,
                      std::function<void(bool)> completion = {});
  /// The spring form: the records are spring animations with this damping ratio and initial
  /// velocity that settle within `duration`.
  static void animateWithSpring(double duration, double delay, double dampingRatio, double velocity,
                                unsigned options, const std::function<void()>& animations,
                                std::function<void(bool)> completion = {});
  /// Runs `actions` with no animation recorded, also inside an animation block.
  static void performWithoutAnimation(const std::function<void()>& actions);
  /// The older begin/commit form of animation blocks.
  static void beginAnimations();
  static void setAnimationDuration(double duration);
  static void setAnimationDelay(double delay);
  /// Raw curve: 0 ease-in-out, 1 ease-in, 2 ease-out, 3 linear; other values (such as the
  /// keyboard's 7) use the ease-in-out curve.
  static void setAnimationCurve(int curve);
  static void setAnimationBeginsFromCurrentState(bool fromCurrent);
  static void commitAnimations();
  static bool areAnimationsEnabled();

  // LayoutItem.
  UIView* owningView() const override { return const_cast<UIView*>(this); }
  std::weak_ptr<const void> lifetime() const override { return weak_from_this(); }

  /// The layout engine of this view's tree, when this view is the root and one exists.
  detail::LayoutEngine* layoutEngineIfAny() const { return engine_.get(); }
  /// How many constraints the layout solver of this view's tree holds: the active ones and those
  /// the views add themselves (content sizes, guides). 0 when this view is not the root of a
  /// laid-out tree.
  std::size_t solverConstraintCount() const;

 protected:
  /// Records an animation of `keyPath` when an animation block is open.
  void recordAnimatedChange(const std::string& keyPath, const AnimationValue& from, const AnimationValue& to);

 private:
  friend class detail::LayoutEngine;
  friend class UIWindow;
  friend class NSLayoutConstraint;
  friend class UIViewController;
  /// The controller whose view this is (it clears this when it lets the view go): told before
  /// and after each layout of the view.
  UIViewController* viewController_ = nullptr;

  UIView* rootView();
  detail::LayoutEngine& engine();
  void moveToWindow(UIWindow* from, UIWindow* to);
  void refreshTraits();
  void notifyTintChange();
  void resizeSubviewsForAutoresizing(CGSize oldSize);
  void leaveTreeConstraints();
  /// Leaves the superview without the window and trait hooks.
  void detachFromSuperview();
  void runLayoutPass();
  void scheduleWindowLayout();

  std::shared_ptr<CALayer> layer_;
  std::vector<std::shared_ptr<UIView>> subviews_;
  std::weak_ptr<UIView> superview_;
  UIView* superviewRaw_ = nullptr;
  std::optional<UIColor> backgroundColor_;
  std::optional<UIColor> tintColor_;
  bool userInteractionEnabled_ = true;
  UIEdgeInsets layoutMargins_{8, 8, 8, 8};
  UIUserInterfaceStyle overrideStyle_ = UIUserInterfaceStyle::Unspecified;
  std::optional<UITraitCollection> reportedTraits_;
  bool translatesAutoresizing_ = true;
  std::vector<std::shared_ptr<NSLayoutConstraint>> constraints_;
  std::vector<std::shared_ptr<UILayoutGuide>> guides_;
  std::shared_ptr<UILayoutGuide> marginsGuide_;
  std::shared_ptr<UILayoutGuide> safeAreaGuide_;
  UILayoutPriority hugging_[2] = {UILayoutPriorityDefaultLow, UILayoutPriorityDefaultLow};
  UILayoutPriority compression_[2] = {UILayoutPriorityDefaultHigh, UILayoutPriorityDefaultHigh};
  bool needsLayout_ = true;
  bool needsUpdateConstraints_ = true;
  bool intrinsicDirty_ = true;
  std::unique_ptr<detail::LayoutEngine> engine_;
  std::vector<std::shared_ptr<UIGestureRecognizer>> recognizers_;
};

}  // namespace uikit
