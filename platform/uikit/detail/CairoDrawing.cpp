#include "platform/uikit/detail/CairoDrawing.h"

#include <cmath>
#include <cstring>

#include "platform/uikit/UIKitError.h"

namespace uikit::detail {

foundation::Result<SurfacePtr> makeSurface(CGSize size, double scale) {
  double w = std::ceil(size.width * scale - 1e-9), h = std::ceil(size.height * scale - 1e-9);
  if (!std::isfinite(w) || !std::isfinite(h) || w < 1 || h < 1)
    return makeUIKitError(UIKitError::Drawing, "the bitmap would be empty");
  if (w > kMaxBitmapSide || h > kMaxBitmapSide || w * h > kMaxBitmapPixels)
    return makeUIKitError(UIKitError::Drawing, "the bitmap would be too large");
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(w), static_cast<int>(h)));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
    return makeUIKitError(UIKitError::Drawing, cairo_status_to_string(cairo_surface_status(surface.get())));
  cairo_surface_set_device_scale(surface.get(), scale, scale);
  return surface;
}

SurfacePtr surfaceForImage(const CGImage& image) {
  // Cairo only reads from a source surface, so handing it the shared pixels is safe.
  auto* data = reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(image.pixels.data()));
  return SurfacePtr(cairo_image_surface_create_for_data(data, CAIRO_FORMAT_ARGB32, image.width, image.height,
                                                        image.width * 4));
}

std::shared_ptr<CGImage> imageFromSurface(cairo_surface_t* surface) {
  cairo_surface_flush(surface);
  auto image = std::make_shared<CGImage>();
  image->width = cairo_image_surface_get_width(surface);
  image->height = cairo_image_surface_get_height(surface);
  int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  image->pixels.resize(static_cast<std::size_t>(image->width) * image->height);
  for (int y = 0; y < image->height; ++y)
    std::memcpy(&image->pixels[static_cast<std::size_t>(y) * image->width], data + static_cast<std::ptrdiff_t>(y) * stride,
                static_cast<std::size_t>(image->width) * 4);
  return image;
}

void setPath(cairo_t* cr, const UIBezierPath& path) {
  cairo_new_path(cr);
  for (const auto& e : path.elements()) {
    switch (e.kind) {
      case UIBezierPath::ElementKind::MoveTo: cairo_move_to(cr, e.point.x, e.point.y); break;
      case UIBezierPath::ElementKind::LineTo: cairo_line_to(cr, e.point.x, e.point.y); break;
      case UIBezierPath::ElementKind::CurveTo:
        cairo_curve_to(cr, e.control1.x, e.control1.y, e.control2.x, e.control2.y, e.point.x, e.point.y);
        break;
      case UIBezierPath::ElementKind::Arc:
        // Clockwise on a y-down screen is the direction of growing angles, as in Cairo; both
        // join the arc to the current point with a line.
        if (!(e.radius > 0) || !std::isfinite(e.radius)) break;
        if (e.clockwise) cairo_arc(cr, e.point.x, e.point.y, e.radius, e.startAngle, e.endAngle);
        else cairo_arc_negative(cr, e.point.x, e.point.y, e.radius, e.startAngle, e.endAngle);
        break;
      case UIBezierPath::ElementKind::Close: cairo_close_path(cr); break;
    }
  }
}

void setSourceColor(cairo_t* cr, const UIColor& color, const UITraitCollection& traits, double alpha) {
  UIColor c = color.resolvedColor(traits);
  cairo_set_source_rgba(cr, c.red(), c.green(), c.blue(), c.alpha() * alpha);
}

void drawImage(cairo_t* cr, const UIImage& image, const CGRect& rect, const UIColor* tint,
               const UITraitCollection& traits) {
  const auto& bitmap = image.cgImage();
  if (!bitmap || !bitmap->isValid() || rect.isEmpty()) return;
  SurfacePtr surface = surfaceForImage(*bitmap);
  cairo_save(cr);
  cairo_translate(cr, rect.minX(), rect.minY());
  cairo_scale(cr, rect.width() / bitmap->width, rect.height() / bitmap->height);
  if (tint && image.renderingMode() == UIImageRenderingMode::AlwaysTemplate) {
    setSourceColor(cr, *tint, traits);
    cairo_mask_surface(cr, surface.get(), 0, 0);
  } else {
    cairo_set_source_surface(cr, surface.get(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
  }
  cairo_restore(cr);
}

}  // namespace uikit::detail
