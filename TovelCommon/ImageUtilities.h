#pragma once
#include <functional>
#include <memory>

#include "platform/foundation/Data.h"
#include "platform/uikit/Geometry.h"

namespace uikit {
class UIImage;
class UIView;
}  // namespace uikit

namespace tovel {

/// Decodes the first image of `data` (PNG or JPEG), turned upright by its orientation tag, and
/// scales it down so that its longer side is at most `maxPixelSize` pixels (never up), at scale
/// 1: its size in points is its size in pixels. Null when the bytes are no image it can read or
/// `maxPixelSize` is not a positive number. Any thread.
std::shared_ptr<uikit::UIImage> decodeThumbnail(const foundation::Data& data, double maxPixelSize);

/// Decodes `data` into a thumbnail for a view of `size` points off the main thread: the longer
/// side of the target in pixels (at the screen's scale, read now, on the calling thread) bounds
/// the thumbnail's longer side. The decoding runs on commonQueue(), so requests complete in the
/// order they were made; `completion` runs on the main queue, and only when an image was made.
void downsample(foundation::Data data, uikit::CGSize size,
                std::function<void(std::shared_ptr<uikit::UIImage>)> completion);

/// The longest side in pixels a thumbnail for `size` points may have on a screen of `scale`.
double thumbnailMaxPixelSize(uikit::CGSize size, double scale);

/// Pins `view` to the four edges of `other` with active constraints: leading, trailing, top and
/// bottom, each inset inwards by `insets`. `view` stops turning its autoresizing mask into
/// constraints; `other` is left as it is. Main thread only, as are the three below.
void pin(uikit::UIView& view, uikit::UIView& other, const uikit::UIEdgeInsets& insets = {});
/// Adds `view` as the last subview of `container`, then pins it there.
void add(const std::shared_ptr<uikit::UIView>& view, uikit::UIView& container, const uikit::UIEdgeInsets& insets = {});
/// Inserts `view` into `container` just above (or below) `sibling`, then pins it to `container`.
void insertAbove(const std::shared_ptr<uikit::UIView>& view, uikit::UIView& container, const uikit::UIView& sibling,
                 const uikit::UIEdgeInsets& insets = {});
void insertBelow(const std::shared_ptr<uikit::UIView>& view, uikit::UIView& container, const uikit::UIView& sibling,
                 const uikit::UIEdgeInsets& insets = {});

}  // namespace tovel
