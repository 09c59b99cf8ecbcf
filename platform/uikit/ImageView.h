#pragma once
#include <optional>
#include <vector>
#include <memory>

#include "platform/uikit/Image.h"
#include "platform/uikit/View.h"

namespace uikit {

/// How content is fitted into a view's bounds, as the platform numbers it.
enum class UIViewContentMode : int {
  ScaleToFill = 0, ScaleAspectFit = 1, ScaleAspectFill = 2, Redraw = 3, Center = 4, Top = 5, Bottom = 6,
  Left = 7, Right = 8, TopLeft = 9, TopRight = 10, BottomLeft = 11, BottomRight = 12,
};

/// A view showing an image, tinted with its tint colour when the image is a template. Its
/// natural size is the image's.
class UIImageView : public UIView {
 public:
  UIImageView() { setUserInteractionEnabled(false); }
  std::string className() const override { return "UIImageView"; }

  const std::shared_ptr<UIImage>& image() const { return image_; }
  void setImage(std::shared_ptr<UIImage> image);
  UIViewContentMode contentMode = UIViewContentMode::ScaleToFill;

  CGSize intrinsicContentSize() const override;
  CGSize sizeThatFits(CGSize size) const override;

  // Frame animation: the images shown in turn, on the process clock.
  std::vector<std::shared_ptr<UIImage>> animationImages;
  /// Seconds per cycle; 0 means 1/30 s per image.
  double animationDuration = 0;
  /// Cycles to run; 0 repeats for ever.
  int animationRepeatCount = 0;
  virtual void startAnimating();
  virtual void stopAnimating();
  /// True from startAnimating until stopAnimating or the last repeat ends.
  bool isAnimating() const;
  /// What the view shows now: the frame of the animation while it runs, else the image.
  std::shared_ptr<UIImage> displayedImage() const;
  /// What the view shows at `time` on the process clock (a drawing of a given moment).
  std::shared_ptr<UIImage> displayedImageAt(double time) const;

 private:
  double cycleDuration() const;
  std::shared_ptr<UIImage> image_;
  std::optional<double> animationStart_;
};

}  // namespace uikit
