#pragma once
// Real image files for the tests of thumbnails, cached images and icons.

#include <gtest/gtest.h>

#include <memory>

#include "platform/foundation/Data.h"
#include "platform/uikit/ImageRenderer.h"
#include "platform/uikit/Renderer.h"

namespace tovel::test_support {

/// A `width` by `height` pixel image, its left half red and its right half blue.
inline std::shared_ptr<uikit::UIImage> halvesImage(double width, double height) {
  return uikit::UIGraphicsImageRenderer({width, height}, 1.0).image([&](uikit::UIGraphicsImageRendererContext& context) {
    context.setFillColor(uikit::UIColor::redColor());
    context.fillRect({0, 0, width / 2, height});
    context.setFillColor(uikit::UIColor{0, 0, 1, 1});
    context.fillRect({width / 2, 0, width / 2, height});
  });
}

/// The PNG file of halvesImage.
inline foundation::Data halvesPNG(double width, double height) {
  auto png = uikit::UIImagePNGRepresentation(*halvesImage(width, height));
  EXPECT_TRUE(png.ok());
  return png.ok() ? *png : foundation::Data();
}

}  // namespace tovel::test_support
