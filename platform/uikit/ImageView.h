#pragma once
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

 private:
  std::shared_ptr<UIImage> image_;
};

}  // namespace uikit
