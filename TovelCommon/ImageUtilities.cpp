#include "TovelCommon/ImageUtilities.h"

#include <algorithm>
#include <cmath>

#include "TovelCommon/CommonQueue.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/ImageDecoding.h"
#include "platform/uikit/ImageRenderer.h"
#include "platform/uikit/View.h"

namespace tovel {

double thumbnailMaxPixelSize(uikit::CGSize size, double scale) {
  return std::max(size.width, size.height) * scale;
}

std::shared_ptr<uikit::UIImage> decodeThumbnail(const foundation::Data& data, double maxPixelSize) {
  if (!(maxPixelSize > 0)) return nullptr;
  auto decoded = uikit::decodeImage(data.view(), 1.0);
  if (!decoded) return nullptr;
  std::shared_ptr<uikit::UIImage> image = std::move(*decoded);
  const uikit::CGSize pixels = image->size();
  const double longer = std::max(pixels.width, pixels.height);
  if (longer <= maxPixelSize) return image;
  const double factor = maxPixelSize / longer;
  const uikit::CGSize target{std::max(1.0, std::round(pixels.width * factor)),
                             std::max(1.0, std::round(pixels.height * factor))};
  return uikit::UIGraphicsImageRenderer(target, 1.0).image([&](uikit::UIGraphicsImageRendererContext& context) {
    context.drawImage(*image, {{0, 0}, target});
  });
}

void downsample(foundation::Data data, uikit::CGSize size,
                std::function<void(std::shared_ptr<uikit::UIImage>)> completion) {
  const double maxPixelSize = thumbnailMaxPixelSize(size, uikit::UIScreen::main().scale());
  commonQueue()->async([data = std::move(data), maxPixelSize, completion = std::move(completion)] {
    auto image = decodeThumbnail(data, maxPixelSize);
    if (!image || !completion) return;
    dispatch::DispatchQueue::main()->async([image = std::move(image), completion] { completion(image); });
  });
}

void pin(uikit::UIView& view, uikit::UIView& other, const uikit::UIEdgeInsets& insets) {
  view.setTranslatesAutoresizingMaskIntoConstraints(false);
  view.leadingAnchor().constraintEqualTo(other.leadingAnchor(), insets.left)->setActive(true);
  view.trailingAnchor().constraintEqualTo(other.trailingAnchor(), -insets.right)->setActive(true);
  view.topAnchor().constraintEqualTo(other.topAnchor(), insets.top)->setActive(true);
  view.bottomAnchor().constraintEqualTo(other.bottomAnchor(), -insets.bottom)->setActive(true);
}

void add(const std::shared_ptr<uikit::UIView>& view, uikit::UIView& container, const uikit::UIEdgeInsets& insets) {
  container.addSubview(view);
  pin(*view, container, insets);
}

void insertAbove(const std::shared_ptr<uikit::UIView>& view, uikit::UIView& container, const uikit::UIView& sibling,
                 const uikit::UIEdgeInsets& insets) {
  container.insertSubviewAbove(view, &sibling);
  pin(*view, container, insets);
}

void insertBelow(const std::shared_ptr<uikit::UIView>& view, uikit::UIView& container, const uikit::UIView& sibling,
                 const uikit::UIEdgeInsets& insets) {
  container.insertSubviewBelow(view, &sibling);
  pin(*view, container, insets);
}

}  // namespace tovel
