#pragma once
#include "platform/uikit/detail/CairoDrawing.h"

namespace uikit::detail {

/// A cleared image surface of `format` and `width` x `height` pixels for drawing that lasts one
/// frame (a group, a shadow's alpha, a blur's copy). Surfaces come back to the calling thread's
/// few kept ones when the last reference goes, so a frame drawn like the one before allocates
/// nothing: fresh bitmaps cost more in page faults than the drawing into them. The device
/// offset and scale are reset.
SurfacePtr scratchSurface(cairo_format_t format, int width, int height);

}  // namespace uikit::detail
