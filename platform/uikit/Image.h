#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/uikit/Geometry.h"

namespace uikit {

/// A bitmap: rows of 32-bit pixels, alpha in the high byte, colour premultiplied by alpha (the
/// layout the renderer draws with). Bitmaps never change once made, so images share them.
struct CGImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // width × height, row after row from the top
  /// True when the sizes are positive and the pixels are exactly width × height; drawing and
  /// encoding skip bitmaps that are not.
  bool isValid() const {
    return width > 0 && height > 0 && pixels.size() == static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  }
  std::uint32_t pixel(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

/// The part of `image` inside `rect` (in pixels, rounded outward and cut to the bitmap); null
/// when nothing of the bitmap is inside.
std::shared_ptr<const CGImage> CGImageCreateWithImageInRect(const std::shared_ptr<const CGImage>& image,
                                                            const CGRect& rect);

enum class UIImageRenderingMode : int { Automatic = 0, AlwaysOriginal = 1, AlwaysTemplate = 2 };

/// An image: its size in points, its scale, how it is tinted, and optionally the pixels a decoder
/// or a drawing gave it. Images are shared objects and compare by identity, as the platform's do.
class UIImage {
 public:
  /// An image of `size` points at `scale` pixels per point, without pixels.
  static std::shared_ptr<UIImage> create(CGSize size, double scale = 1.0, std::string name = {});
  /// An image showing `bitmap` at `scale` pixels per point; null when there is no bitmap.
  static std::shared_ptr<UIImage> createWithCGImage(std::shared_ptr<const CGImage> bitmap, double scale = 1.0);

  CGSize size() const { return size_; }
  double scale() const { return scale_; }
  const std::string& name() const { return name_; }
  UIImageRenderingMode renderingMode() const { return renderingMode_; }
  /// The pixels, when a decoder or a drawing made the image.
  const std::shared_ptr<const CGImage>& cgImage() const { return bitmap_; }
  /// A new image with the same content and the given rendering mode.
  std::shared_ptr<UIImage> imageWithRenderingMode(UIImageRenderingMode mode) const;

 private:
  UIImage() = default;
  CGSize size_;
  double scale_ = 1.0;
  std::string name_;
  UIImageRenderingMode renderingMode_ = UIImageRenderingMode::Automatic;
  std::shared_ptr<const CGImage> bitmap_;
};

}  // namespace uikit
