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

/// A layout of `text` in `font`, wrapped at word (or, for words too long, character) boundaries
/// at `maxWidth` (not finite or not positive: no wrapping), not yet cut to a number of lines.
/// The caller holds pangoLock() while it makes and uses the layout.
LayoutPtr makeTextLayout(std::string_view text, const UIFont& font, CGFloat maxWidth);

/// Cuts `layout` to the lines a label shows: at most `numberOfLines` (0: no limit), and of those
/// only the ones that end within `maxHeight` points (infinite: no limit), but always one. Where
/// the cut falls inside a paragraph of a layout with a width, the last shown line ends with an
/// ellipsis. Returns how many of the layout's first lines are shown (0 for empty text). The
/// measurer and the renderer both cut through here, so a label given its measured height
/// shows every line it was measured with.
int cutToLines(PangoLayout* layout, int numberOfLines, CGFloat maxHeight);

/// The logical size in points, rounded up, of the layout's first `lines` lines.
CGSize layoutSize(PangoLayout* layout, int lines);

/// Pango's font map and contexts are not safe to share between threads; every use of them goes
/// under this lock.
std::unique_lock<std::mutex> pangoLock();

}  // namespace uikit::detail
