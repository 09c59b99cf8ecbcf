#pragma once
#include <memory>
#include <mutex>
#include <string_view>

#include <pango/pangocairo.h>

#include "platform/uikit/Geometry.h"
#include "platform/uikit/TextMeasurer.h"

// Text layout shared by the font-based measurer and the renderer, so that a label is drawn in
// exactly the size it was measured at: one font map, hinting off (metrics then do not depend on
// the scale a surface is drawn at), and sizes in points as user-space units.

namespace uikit::detail {

struct LayoutDeleter {
  void operator()(PangoLayout* layout) const { g_object_unref(layout); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, LayoutDeleter>;

/// A layout of `text` in `font`, wrapped at `maxWidth` (not finite or not positive: no
/// wrapping) and cut to `numberOfLines` lines (0: no limit) with an ellipsis where it is cut.
/// The caller holds pangoLock() while it makes and uses the layout.
LayoutPtr makeTextLayout(std::string_view text, const UIFont& font, CGFloat maxWidth, int numberOfLines);

/// The logical size of a layout in points, rounded up, counting only its first `numberOfLines`
/// lines (0: all).
CGSize layoutSize(PangoLayout* layout, int numberOfLines);

/// Pango's font map and contexts are not safe to share between threads; every use of them goes
/// under this lock.
std::unique_lock<std::mutex> pangoLock();

}  // namespace uikit::detail
