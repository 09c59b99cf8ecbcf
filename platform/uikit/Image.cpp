#include "platform/uikit/Image.h"

namespace uikit {

std::shared_ptr<UIImage> UIImage::create(CGSize size, double scale, std::string name) {
  auto image = std::shared_ptr<UIImage>(new UIImage());
  image->size_ = size;
  image->scale_ = scale > 0 ? scale : 1.0;
  image->name_ = std::move(name);
  return image;
}

std::shared_ptr<UIImage> UIImage::imageWithRenderingMode(UIImageRenderingMode mode) const {
  auto image = std::shared_ptr<UIImage>(new UIImage(*this));
  image->renderingMode_ = mode;
  return image;
}

}  // namespace uikit
