#pragma once
#include <memory>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "platform/uikit/Image.h"

namespace uikit::detail {

/// Premultiplied 32-bit pixels from a pixbuf's RGB or RGBA bytes.
std::shared_ptr<CGImage> bitmapOfPixbuf(const GdkPixbuf* pixbuf);

}  // namespace uikit::detail
