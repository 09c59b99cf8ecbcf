#pragma once
#include <memory>
#include <string>

#include "platform/uikit/Geometry.h"

namespace uikit {

enum class UIImageRenderingMode : int { Automatic = 0, AlwaysOriginal = 1, AlwaysTemplate = 2 };

/// An image: its size in points, its scale, how it is tinted, and optionally the pixels a decoder
/// or a drawing gave it. Images are shared objects and compare by identity, as the platform's do.
class UIImage {
 public:
  /// An image of `size` points at `scale` pixels per point, without pixels.
  static std::shared_ptr<UIImage> create(CGSize size, double scale = 1.0, std::string name = {});

  CGSize size() const { return size_; }
  double scale() const { return scale_; }
  const std::string& name() const { return name_; }
  UIImageRenderingMode renderingMode() const { return renderingMode_; }
  /// A new image with the same content and the given rendering mode.
  std::shared_ptr<UIImage> imageWithRenderingMode(UIImageRenderingMode mode) const;

 private:
  UIImage() = default;
  CGSize size_;
  double scale_ = 1.0;
  std::string name_;
  UIImageRenderingMode renderingMode_ = UIImageRenderingMode::Automatic;
};

}  // namespace uikit
