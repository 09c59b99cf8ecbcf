#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MessageBanners/detail/ToolkitSeams.h"
#include "platform/uikit/GestureRecognizer.h"
#include "platform/uikit/View.h"

namespace uikit { class CABasicAnimation; }

namespace MessageBanners {

class AnimationContext;

/// A message view whose visible card may be a view of its own.
class BackgroundViewable {
 public:
  virtual ~BackgroundViewable() = default;
  /// The view that draws the card: the message view itself or one of its subviews.
  virtual std::shared_ptr<uikit::UIView> backgroundView() const = 0;
};

/// A message view whose layout margins the animators set, keeping its content clear of the status
/// bar, the safe area and the overshoot of the show animation.
class MarginAdjustable {
 public:
  virtual ~MarginAdjustable() = default;
  virtual uikit::UIEdgeInsets layoutMarginAdditions() const = 0;
  /// Whether additions and safe-area insets combine by maximum (true) or by sum (false).
  virtual bool collapseLayoutMarginAdditions() const = 0;
  virtual void setCollapseLayoutMarginAdditions(bool collapse) = 0;
  virtual bool respectSafeArea() const = 0;
  virtual void setRespectSafeArea(bool respect) = 0;
  /// Room kept for the overshoot of the spring that shows the message.
  virtual uikit::CGFloat bounceAnimationOffset() const = 0;
  virtual void setBounceAnimationOffset(uikit::CGFloat offset) = 0;

  /// The layout margins the animators give the view for `context`, edge by edge: the addition
  /// and the safe-area inset combined (by maximum or by sum); a covered classic status bar
  /// counts as no safe top. The animator adds the bounce offset on the edge it slides in from.
  uikit::UIEdgeInsets defaultMarginAdjustment(const AnimationContext& context);
  /// The view's safe-area insets when it respects the safe area (its margins then stop insetting
  /// from the safe area themselves, since the adjustment includes it), else zero.
  uikit::UIEdgeInsets safeAreaMargins();
};

/// The running basic animation of `layer` (a spring counts) whose key path is `keyPath`, the
/// first in the order of the layer's animation keys; null when there is none.
std::shared_ptr<const uikit::CABasicAnimation> runningBasicAnimation(const uikit::CALayer& layer,
                                                                     const std::string& keyPath);

/// The view every message banner is made of: a background view (the card, which may be the view
/// itself) with content inside it, laid out at fixed priorities, taps on the card sent to a tap
/// handler, the margin settings the animators read, and a drop shadow whose path follows the
/// card's shape, also while the card's size animates. Main thread only.
class BaseView : public uikit::UIView, public BackgroundViewable, public MarginAdjustable {
 public:
  using TapHandler = std::function<void(BaseView&)>;

  /// A view whose background view is itself, with zero layout margins.
  static std::shared_ptr<BaseView> create(const uikit::CGRect& frame = {});
  std::string className() const override { return "MessageBanners.BaseView"; }

  // The card. Held weakly: it is the view itself or a subview, owned by the tree.
  std::shared_ptr<uikit::UIView> backgroundView() const override { return backgroundView_.lock(); }
  /// Moves the tap recogniser to the new card and rebuilds the height constraint.
  virtual void setBackgroundView(const std::shared_ptr<uikit::UIView>& view);

  /// Puts `content` into the card, pinned to its edges by `insets`, with a weak height of 350 as
  /// the fallback when nothing else sizes it.
  virtual void installContent(const std::shared_ptr<uikit::UIView>& content, const uikit::UIEdgeInsets& insets);
  /// Makes `view` the card, inside the layout margins (priority 900), centred (950), spanning the
  /// margins in compact width and at most 500 points wide in regular width. `view` must not be
  /// this view.
  virtual void installBackground(const std::shared_ptr<uikit::UIView>& view, const uikit::UIEdgeInsets& insets);
  /// As installBackground, but the card's top and bottom are pinned to this view's edges
  /// (required) instead of the layout margins.
  virtual void installEdgePinnedBackground(const std::shared_ptr<uikit::UIView>& view,
                                           const uikit::UIEdgeInsets& insets);

  // Taps on the card.
  const TapHandler& tapHandler() const { return tapHandler_; }
  virtual void setTapHandler(TapHandler handler);
  /// Created on first use; it sits on the card exactly while a tap handler is set.
  uikit::UITapGestureRecognizer& tapRecognizer();
  virtual void refreshTapRecognizer();
  /// The recogniser's action: calls the tap handler with this view.
  void tapped();

  // Margins.
  uikit::UIEdgeInsets layoutMarginAdditions() const override;
  virtual void setLayoutMarginAdditions(const uikit::UIEdgeInsets& additions);
  bool respectSafeArea() const override { return respectSafeArea_; }
  void setRespectSafeArea(bool respect) override { respectSafeArea_ = respect; }
  uikit::CGFloat topLayoutMarginAddition = 0;
  uikit::CGFloat leftLayoutMarginAddition = 0;
  uikit::CGFloat bottomLayoutMarginAddition = 0;
  uikit::CGFloat rightLayoutMarginAddition = 0;
  bool collapseLayoutMarginAdditions() const override { return collapse_; }
  void setCollapseLayoutMarginAdditions(bool collapse) override { collapse_ = collapse; }
  uikit::CGFloat bounceAnimationOffset() const override { return bounceAnimationOffset_; }
  void setBounceAnimationOffset(uikit::CGFloat offset) override { bounceAnimationOffset_ = offset; }
  /// Sets the left and then the right layout margin, keeping top and bottom.
  void setSideLayoutMargins(uikit::CGFloat margin);

  // Sizing of the card.
  const std::optional<uikit::CGFloat>& backgroundHeight() const { return backgroundHeight_; }
  virtual void setBackgroundHeight(std::optional<uikit::CGFloat> height);
  const std::shared_ptr<uikit::NSLayoutConstraint>& backgroundHeightConstraint() const { return heightConstraint_; }
  /// Replaces the card's fixed-height constraint: none without a height or a card.
  virtual void refreshBackgroundHeightConstraint();
  /// Fixes the card's width (no effect without a card).
  void constrainBackgroundWidth(uikit::CGFloat width);
  /// The card's horizontal constraints in compact (or unspecified) width.
  std::vector<std::shared_ptr<uikit::NSLayoutConstraint>> layoutConstraints;
  /// The card's horizontal constraints in regular width.
  std::vector<std::shared_ptr<uikit::NSLayoutConstraint>> regularWidthLayoutConstraints;

  // Shadow.
  /// Black shadow, offset (0, 2), radius 6, opacity 0.4, not clipped; its path follows the card.
  void applyDropShadow();
  void clearDropShadow();
  /// Sets the shadow path to the card's outline in this view; while this view's size animates,
  /// the path animates with the same duration and timing.
  void refreshShadowPath();

  // Platform hooks.
  void updateConstraints() override;
  void layoutSubviews() override;
  /// Inside the card, when the card is a subview.
  bool pointInside(uikit::CGPoint point) const override;

 protected:
  BaseView() = default;
  /// The second half of construction, once the view is shared: the view becomes its own card and
  /// its layout margins zero.
  void initBaseView(const uikit::CGRect& frame);

 private:
  void installBackground(const std::shared_ptr<uikit::UIView>& view, const uikit::UIEdgeInsets& insets,
                         bool edgePinned);

  std::weak_ptr<uikit::UIView> backgroundView_;
  TapHandler tapHandler_;
  std::shared_ptr<uikit::UITapGestureRecognizer> tapRecognizer_;
  bool respectSafeArea_ = true;
  bool collapse_ = true;
  uikit::CGFloat bounceAnimationOffset_ = 5.0;
  std::optional<uikit::CGFloat> backgroundHeight_;
  std::shared_ptr<uikit::NSLayoutConstraint> heightConstraint_;
};

}  // namespace MessageBanners
