#include "platform/uikit/Image.h"

#include <algorithm>
#include <cmath>

namespace uikit {

std::shared_ptr<UIImage> UIImage::create(CGSize size, double scale, std::string name) {
  auto image = std::shared_ptr<UIImage>(new UIImage());
  image->size_ = size;
  image->scale_ = scale > 0 ? scale : 1.0;
  image->name_ = std::move(name);
  return image;
}

std::shared_ptr<UIImage> UIImage::createWithCGImage(std::shared_ptr<const CGImage> bitmap, double scale) {
  if (!bitmap) return nullptr;
  if (!(scale > 0)) scale = 1.0;
  auto image = create({bitmap->width / scale, bitmap->height / scale}, scale);
  image->bitmap_ = std::move(bitmap);
  return image;
}

std::shared_ptr<const CGImage> CGImageCreateWithImageInRect(const std::shared_ptr<const CGImage>& image,
                                                            const CGRect& rect) {
  if (!image || !image->isValid()) return nullptr;
  CGRect r = rect.standardized();
  if (!std::isfinite(r.minX()) || !std::isfinite(r.minY()) || !std::isfinite(r.maxX()) || !std::isfinite(r.maxY()))
    return nullptr;
  // Limits are compared as doubles first so that huge or non-finite rectangles cannot overflow.
  double x0 = std::max(0.0, std::floor(r.minX())), y0 = std::max(0.0, std::floor(r.minY()));
  double x1 = std::min<double>(image->width, std::ceil(r.maxX()));
  double y1 = std::min<double>(image->height, std::ceil(r.maxY()));
  if (!(x1 > x0) || !(y1 > y0)) return nullptr;
  auto crop = std::make_shared<CGImage>();
  crop->width = static_cast<int>(x1 - x0);
  crop->height = static_cast<int>(y1 - y0);
  crop->pixels.reserve(static_cast<std::size_t>(crop->width) * crop->height);
  for (int y = static_cast<int>(y0); y < static_cast<int>(y1); ++y) {
    auto row = image->pixels.begin() + static_cast<std::ptrdiff_t>(y) * image->width;
    crop->pixels.insert(crop->pixels.end(), row + static_cast<std::ptrdiff_t>(x0), row + static_cast<std::ptrdiff_t>(x1));
  }
  return crop;
}

std::shared_ptr<UIImage> UIImage::imageWithRenderingMode(UIImageRenderingMode mode) const {
  auto image = std::shared_ptr<UIImage>(new UIImage(*this));
  image->renderingMode_ = mode;
  return image;
}

}  // namespace uikit
