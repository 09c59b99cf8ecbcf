#pragma once
#include <memory>

#include <cairo.h>

#include "platform/foundation/Result.h"
#include "platform/uikit/BezierPath.h"
#include "platform/uikit/Color.h"
#include "platform/uikit/Image.h"

// Pieces of Cairo drawing shared by the renderer and the image renderer.

namespace uikit::detail {

/// The largest bitmap drawn or decoded: Cairo's side limit, and a pixel count that keeps a
/// bitmap under 256 MiB.
inline constexpr int kMaxBitmapSide = 32767;
inline constexpr double kMaxBitmapPixels = 64.0 * 1024 * 1024;

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
struct ContextDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using ContextPtr = std::unique_ptr<cairo_t, ContextDeleter>;

/// A cleared image surface for `size` points at `scale`, with the matching device scale, or an
/// error when the size is empty, not finite or too large.
foundation::Result<SurfacePtr> makeSurface(CGSize size, double scale);
/// A surface that reads `image`'s pixels in place; `image` must be valid and outlive it.
SurfacePtr surfaceForImage(const CGImage& image);
/// A copy of an image surface's pixels.
std::shared_ptr<CGImage> imageFromSurface(cairo_surface_t* surface);

/// Replaces the current path of `cr` with `path`.
void setPath(cairo_t* cr, const UIBezierPath& path);
void setSourceColor(cairo_t* cr, const UIColor& color, const UITraitCollection& traits, double alpha = 1.0);
/// Draws `image` scaled into `rect`; a template image is filled with `tint` through its alpha.
void drawImage(cairo_t* cr, const UIImage& image, const CGRect& rect, const UIColor* tint,
               const UITraitCollection& traits);

}  // namespace uikit::detail
