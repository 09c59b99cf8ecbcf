#pragma once
#include <memory>
#include <optional>

#include "platform/uikit/Color.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/LayoutConstraint.h"

namespace uikit {
class UIViewController;
}

namespace tovel {

/// An indeterminate progress bar: as wide as its host view, 2 points high, fixed to the host's top
/// edge, showing slanted stripes of one colour that drift sideways while it runs. It plays a loop
/// of frames made once per width, so running costs no drawing per frame.
///
/// The view controller whose view hosts the bar is held weakly: once it is gone, layout and start
/// no longer reorder its view's subviews. Main thread only, like every view. The bar is made in
/// code only: its class is not in the archive registry, so an archive naming it fails to load
/// with the registry's error instead of making a bar.
class GlobalProgressBar : public uikit::UIImageView {
 public:
  /// One tile of the stripe pattern; its height is the bar's height.
  static constexpr uikit::CGSize kPieceSize{12.0, 2.0};
  /// One pass over the frames moves the stripes by one tile.
  static constexpr double kAnimationDuration = 0.35;

  /// Makes a bar and places it in the view of `viewController` (null: the bar is made but never
  /// placed).
  static std::shared_ptr<GlobalProgressBar> create(const std::shared_ptr<uikit::UIViewController>& viewController,
                                                   uikit::UIColor accentColor = uikit::UIColor::whiteColor());
  std::string className() const override { return "GlobalProgressBar"; }

  /// The constraint tying the bar's top to the host's top, once placed.
  const std::shared_ptr<uikit::NSLayoutConstraint>& topConstraint() const { return topConstraint_; }
  const uikit::UIColor& accentColor() const { return accentColor_; }

  /// Brings the bar in front of the host's other subviews and makes the frames for a new width.
  void layoutSubviews() override;
  /// Shows the bar in front of the host's other subviews and runs it.
  void startAnimating() override;
  /// Stops and hides the bar.
  void stopAnimating() override;

 private:
  GlobalProgressBar(std::weak_ptr<uikit::UIViewController> viewController, uikit::UIColor accentColor);
  /// The view of the view controller, while the controller exists.
  std::shared_ptr<uikit::UIView> hostView() const;
  void setupLayout();
  /// Remakes the frames when the width changed since they were made, then keeps the bar running
  /// or stopped as it was.
  void updateAnimationImages();
  const std::shared_ptr<uikit::UIImage>& pieceImage();

  std::shared_ptr<uikit::NSLayoutConstraint> topConstraint_;
  std::weak_ptr<uikit::UIViewController> viewController_;
  uikit::UIColor accentColor_;
  bool isAnimating_ = false;
  double lastImagesWidth_ = 0;
  std::shared_ptr<uikit::UIImage> pieceImage_;
};

}  // namespace tovel
