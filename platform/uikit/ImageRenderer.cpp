#include "platform/uikit/ImageRenderer.h"

#include <cmath>

#include <cairo.h>

#include "platform/uikit/Animation.h"
#include "platform/uikit/Renderer.h"
#include "platform/uikit/View.h"
#include "platform/uikit/detail/CairoDrawing.h"

namespace uikit {

void UIGraphicsImageRendererContext::fillRect(const CGRect& rect) { fillPath(UIBezierPath::rect(rect)); }

void UIGraphicsImageRendererContext::fillPath(const UIBezierPath& path, CGPathFillRule rule) {
  detail::setPath(cr_, path);
  cairo_set_fill_rule(cr_, rule == CGPathFillRule::EvenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
  detail::setSourceColor(cr_, fill_, {});
  cairo_fill(cr_);
}

void UIGraphicsImageRendererContext::strokePath(const UIBezierPath& path) {
  if (!(lineWidth_ > 0) || !std::isfinite(lineWidth_)) return;
  detail::setPath(cr_, path);
  cairo_set_line_width(cr_, lineWidth_);
  detail::setSourceColor(cr_, stroke_, {});
  cairo_stroke(cr_);
}

void UIGraphicsImageRendererContext::drawImage(const UIImage& image, const CGRect& rect) {
  detail::drawImage(cr_, image, rect, nullptr, {});
}

void UIGraphicsImageRendererContext::drawImageAsPattern(const UIImage& image, const CGRect& rect) {
  const auto& bitmap = image.cgImage();
  if (!bitmap || !bitmap->isValid() || rect.isEmpty()) return;
  detail::SurfacePtr surface = detail::surfaceForImage(*bitmap);
  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(surface.get());
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
  // One tile is the image's size in points, repeated from the context's origin.
  cairo_matrix_t m;
  cairo_matrix_init_scale(&m, image.scale(), image.scale());
  cairo_pattern_set_matrix(pattern, &m);
  cairo_save(cr_);
  cairo_set_source(cr_, pattern);
  cairo_rectangle(cr_, rect.minX(), rect.minY(), rect.width(), rect.height());
  cairo_fill(cr_);
  cairo_restore(cr_);
  cairo_pattern_destroy(pattern);
}

bool UIGraphicsImageRendererContext::drawViewHierarchy(const UIView& view, const CGRect& rect) {
  CGRect bounds = view.bounds();
  if (bounds.isEmpty() || rect.isEmpty()) return false;
  cairo_save(cr_);
  cairo_translate(cr_, rect.minX(), rect.minY());
  cairo_scale(cr_, rect.width() / bounds.width(), rect.height() / bounds.height());
  cairo_translate(cr_, -bounds.minX(), -bounds.minY());
  Renderer::drawView(cr_, view, CACurrentMediaTime());
  cairo_restore(cr_);
  return true;
}

UIGraphicsImageRenderer::UIGraphicsImageRenderer(CGSize size, double scale)
    : size_(size), scale_(scale > 0 && std::isfinite(scale) ? scale : 1.0) {}

std::shared_ptr<UIImage> UIGraphicsImageRenderer::image(
    const std::function<void(UIGraphicsImageRendererContext&)>& actions) const {
  auto surface = detail::makeSurface(size_, scale_);
  if (!surface) return nullptr;
  {
    detail::ContextPtr cr(cairo_create(surface->get()));
    UIGraphicsImageRendererContext context(cr.get());
    if (actions) actions(context);
  }
  auto image = UIImage::createWithCGImage(detail::imageFromSurface(surface->get()), scale_);
  return image;
}

}  // namespace uikit
