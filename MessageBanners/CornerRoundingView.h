#pragma once
#include <memory>
#include <string>

#include "platform/uikit/BezierPath.h"
#include "platform/uikit/View.h"

namespace MessageBanners {

/// A card background that rounds chosen corners through a shape-layer mask, and keeps the mask
/// in step with its size, also while the size animates. Main thread only.
class CornerRoundingView : public uikit::UIView {
 public:
  /// No visible rounding (radius 0, all corners chosen); the layer's mask is `shapeLayer()`.
  static std::shared_ptr<CornerRoundingView> create(const uikit::CGRect& frame = {});
  std::string className() const override { return "MessageBanners.CornerRoundingView"; }

  uikit::CGFloat cornerRadius() const { return cornerRadius_; }
  /// Redraws the mask at once.
  virtual void setCornerRadius(uikit::CGFloat radius);
  /// Asks the top and bottom animator to round only the corners away from the screen edge the
  /// message slides in from; stored only, the animator reads it.
  bool roundsLeadingCorners() const { return roundsLeadingCorners_; }
  virtual void setRoundsLeadingCorners(bool rounds) { roundsLeadingCorners_ = rounds; }
  /// Bits of uikit::UIRectCorner.
  unsigned roundedCorners() const { return roundedCorners_; }
  /// Redraws the mask at once.
  virtual void setRoundedCorners(unsigned corners);
  const std::shared_ptr<uikit::CAShapeLayer>& shapeLayer() const { return shapeLayer_; }

  /// Sets the mask to the rounded outline of the bounds; while this view's size animates, the
  /// mask animates with the same duration and timing.
  virtual void refreshMaskPath();
  void layoutSubviews() override;

 protected:
  CornerRoundingView() = default;
  void initCornerRoundingView(const uikit::CGRect& frame);

 private:
  uikit::CGFloat cornerRadius_ = 0;
  bool roundsLeadingCorners_ = false;
  unsigned roundedCorners_ = uikit::UIRectCornerAllCorners;
  std::shared_ptr<uikit::CAShapeLayer> shapeLayer_ = uikit::CAShapeLayer::create();
};

}  // namespace MessageBanners
