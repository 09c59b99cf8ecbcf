#include "platform/uikit/Renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include <cairo.h>

#include "platform/dispatch/CallbackGuard.h"
#include "platform/foundation/FileManager.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/Animation.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/Layer.h"
#include "platform/uikit/PageControl.h"
#include "platform/uikit/Switch.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/UIKitError.h"
#include "platform/uikit/View.h"
#include "platform/uikit/VisualEffectView.h"
#include "platform/uikit/detail/CairoDrawing.h"
#include "platform/uikit/detail/PangoText.h"
#include "platform/uikit/detail/ScratchSurfaces.h"

namespace uikit {
namespace {

using detail::ContextPtr;
using detail::SurfacePtr;

struct PatternDeleter {
  void operator()(cairo_pattern_t* p) const { cairo_pattern_destroy(p); }
};
using PatternPtr = std::unique_ptr<cairo_pattern_t, PatternDeleter>;

/// What one drawing pass knows: the moment, and which view each layer backs.
struct Pass {
  cairo_t* cr;
  double time;
  std::unordered_map<const CALayer*, const UIView*> views;
  /// The bitmap of the whole drawing, what a blur blurs; groups draw into bitmaps of their own.
  cairo_surface_t* screen = nullptr;
};

void indexViews(const UIView& view, Pass& pass) {
  pass.views[view.layer().get()] = &view;
  for (const auto& s : view.subviews()) indexViews(*s, pass);
}

/// The layer's presentation values needed to draw it.
struct Look {
  CGRect bounds;
  CGPoint position, anchor;
  CATransform3D transform;
  double opacity = 1, cornerRadius = 0, borderWidth = 0;
  std::optional<UIColor> background, border, shadowColor;
  double shadowOpacity = 0, shadowRadius = 0;
  CGSize shadowOffset;
  std::optional<UIBezierPath> shadowPath;
};

template <class T>
T valueOr(const CALayer& layer, const char* keyPath, double time, T fallback) {
  AnimationValue v = layer.presentationValue(keyPath, time);
  if (auto* p = std::get_if<T>(&v)) return *p;
  return fallback;
}

std::optional<UIColor> colorAt(const CALayer& layer, const char* keyPath, double time) {
  AnimationValue v = layer.presentationValue(keyPath, time);
  if (auto* c = std::get_if<UIColor>(&v)) return *c;
  return std::nullopt;
}

std::optional<UIBezierPath> pathAt(const CALayer& layer, const char* keyPath, double time) {
  AnimationValue v = layer.presentationValue(keyPath, time);
  if (auto* p = std::get_if<UIBezierPath>(&v)) return *p;
  return std::nullopt;
}

double finiteOr(double v, double fallback) { return std::isfinite(v) ? v : fallback; }

/// Animations may move a whole value or one of its parts ("bounds.size", "position.x"); a part
/// that an animation moves replaces that part of the whole.
template <class Part>
void applyPart(const CALayer& layer, const char* keyPath, double t, const Part& model, Part& part) {
  Part now = valueOr<Part>(layer, keyPath, t, model);
  if (!(now == model)) part = now;
}

Look lookAt(const CALayer& layer, double t) {
  Look k;
  k.bounds = valueOr<CGRect>(layer, "bounds", t, layer.bounds());
  applyPart(layer, "bounds.size", t, layer.bounds().size, k.bounds.size);
  applyPart(layer, "bounds.origin", t, layer.bounds().origin, k.bounds.origin);
  k.position = valueOr<CGPoint>(layer, "position", t, layer.position());
  applyPart(layer, "position.x", t, layer.position().x, k.position.x);
  applyPart(layer, "position.y", t, layer.position().y, k.position.y);
  k.anchor = valueOr<CGPoint>(layer, "anchorPoint", t, layer.anchorPoint());
  k.transform = valueOr<CATransform3D>(layer, "transform", t, layer.transform());
  k.opacity = std::clamp(finiteOr(valueOr<double>(layer, "opacity", t, layer.opacity()), 1.0), 0.0, 1.0);
  // Negative radii and widths draw as none.
  k.cornerRadius = std::max(0.0, finiteOr(valueOr<double>(layer, "cornerRadius", t, 0), 0));
  k.borderWidth = std::max(0.0, finiteOr(valueOr<double>(layer, "borderWidth", t, 0), 0));
  k.background = colorAt(layer, "backgroundColor", t);
  k.border = colorAt(layer, "borderColor", t);
  k.shadowColor = colorAt(layer, "shadowColor", t);
  k.shadowOpacity = std::clamp(finiteOr(valueOr<double>(layer, "shadowOpacity", t, 0), 0), 0.0, 1.0);
  k.shadowRadius = std::max(0.0, finiteOr(valueOr<double>(layer, "shadowRadius", t, 0), 0));
  k.shadowOffset = valueOr<CGSize>(layer, "shadowOffset", t, {});
  k.shadowPath = pathAt(layer, "shadowPath", t);
  return k;
}

/// From the layer's bounds coordinates to its superlayer's: the anchor point of the bounds sits
/// at the position, with the transform applied around it.
cairo_matrix_t placement(const Look& k) {
  CGFloat ax = k.bounds.origin.x + k.anchor.x * k.bounds.size.width;
  CGFloat ay = k.bounds.origin.y + k.anchor.y * k.bounds.size.height;
  CGAffineTransform t = CGAffineTransform::makeTranslation(-ax, -ay)
                            .concat(k.transform.affine())
                            .concat(CGAffineTransform::makeTranslation(k.position.x, k.position.y));
  cairo_matrix_t m;
  cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
  return m;
}

bool invertible(const cairo_matrix_t& m) {
  double det = m.xx * m.yy - m.xy * m.yx;
  return std::isfinite(det) && std::fabs(det) > 1e-12 && std::isfinite(m.x0) && std::isfinite(m.y0);
}

UIBezierPath boundsPath(const CGRect& bounds, double radius) {
  return radius > 0 ? UIBezierPath::roundedRect(bounds, radius) : UIBezierPath::rect(bounds);
}

/// Strokes the part of the current path between the fractions `from` and `to` of its length.
void strokeRange(cairo_t* cr, double from, double to) {
  cairo_path_t* flat = cairo_copy_path_flat(cr);
  // Each segment of the flattened path, with where it starts along the whole length.
  struct Segment { double x0, y0, x1, y1; bool starts; };
  std::vector<Segment> segments;
  double sx = 0, sy = 0, cx = 0, cy = 0, total = 0;
  bool fresh = true;
  for (int i = 0; i < flat->num_data; i += flat->data[i].header.length) {
    const cairo_path_data_t* d = &flat->data[i];
    switch (d->header.type) {
      case CAIRO_PATH_MOVE_TO:
        sx = cx = d[1].point.x; sy = cy = d[1].point.y; fresh = true; break;
      case CAIRO_PATH_LINE_TO:
        segments.push_back({cx, cy, d[1].point.x, d[1].point.y, fresh});
        total += std::hypot(d[1].point.x - cx, d[1].point.y - cy);
        cx = d[1].point.x; cy = d[1].point.y; fresh = false; break;
      case CAIRO_PATH_CLOSE_PATH:
        segments.push_back({cx, cy, sx, sy, fresh});
        total += std::hypot(sx - cx, sy - cy);
        cx = sx; cy = sy; fresh = false; break;
      case CAIRO_PATH_CURVE_TO: break;  // not present in a flattened path
    }
  }
  cairo_path_destroy(flat);
  cairo_new_path(cr);
  double a = from * total, b = to * total, at = 0;
  bool open = false;
  for (const auto& s : segments) {
    double len = std::hypot(s.x1 - s.x0, s.y1 - s.y0);
    double s0 = at, s1 = at + len;
    at = s1;
    if (s.starts) open = false;
    if (s1 < a || s0 > b || len <= 0) {
      if (len > 0) open = false;
      continue;
    }
    double u0 = std::max(0.0, (a - s0) / len), u1 = std::min(1.0, (b - s0) / len);
    double x0 = s.x0 + (s.x1 - s.x0) * u0, y0 = s.y0 + (s.y1 - s.y0) * u0;
    if (!open) cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, s.x0 + (s.x1 - s.x0) * u1, s.y0 + (s.y1 - s.y0) * u1);
    open = u1 >= 1.0;
  }
  cairo_stroke(cr);
}

void drawShape(Pass& pass, const CAShapeLayer& shape, const UITraitCollection& traits) {
  cairo_t* cr = pass.cr;
  auto path = pathAt(shape, "path", pass.time);
  if (!path || path->isEmpty()) return;
  if (auto fill = colorAt(shape, "fillColor", pass.time)) {
    detail::setPath(cr, *path);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    detail::setSourceColor(cr, *fill, traits);
    cairo_fill(cr);
  }
  auto stroke = colorAt(shape, "strokeColor", pass.time);
  double width = finiteOr(valueOr<double>(shape, "lineWidth", pass.time, 1), 0);
  if (!stroke || width <= 0) return;
  // The stroke range is cut to 0…1; an empty range draws nothing.
  double from = std::clamp(finiteOr(valueOr<double>(shape, "strokeStart", pass.time, 0), 0), 0.0, 1.0);
  double to = std::clamp(finiteOr(valueOr<double>(shape, "strokeEnd", pass.time, 1), 1), 0.0, 1.0);
  if (to <= from) return;
  detail::setPath(cr, *path);
  cairo_set_line_width(cr, width);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
  detail::setSourceColor(cr, *stroke, traits);
  if (from <= 0 && to >= 1) cairo_stroke(cr);
  else strokeRange(cr, from, to);
}

void drawLabel(cairo_t* cr, const UILabel& label, const CGRect& bounds) {
  if (label.text().empty() || bounds.isEmpty()) return;
  auto lock = detail::pangoLock();
  auto layout = detail::makeTextLayout(label.text(), label.font(), bounds.width());
  switch (label.textAlignment) {
    case NSTextAlignment::Left:
    case NSTextAlignment::Center:
    case NSTextAlignment::Right:
      // A fixed side stays put whatever the text's direction.
      pango_layout_set_auto_dir(layout.get(), false);
      pango_layout_set_alignment(layout.get(), label.textAlignment == NSTextAlignment::Left     ? PANGO_ALIGN_LEFT
                                               : label.textAlignment == NSTextAlignment::Center ? PANGO_ALIGN_CENTER
                                                                                                : PANGO_ALIGN_RIGHT);
      break;
    case NSTextAlignment::Justified:
      pango_layout_set_justify(layout.get(), true);
      [[fallthrough]];
    case NSTextAlignment::Natural:
      // Leading edge of the text's own direction: left for left-to-right, right for right-to-left.
      pango_layout_set_auto_dir(layout.get(), true);
      pango_layout_set_alignment(layout.get(), PANGO_ALIGN_LEFT);
      break;
  }
  // Lines beyond the label's limit or below its bounds are left out, cut as the measurer cuts.
  const int lines = detail::cutToLines(layout.get(), label.numberOfLines(), bounds.height());
  CGSize size = detail::layoutSize(layout.get(), lines);
  cairo_save(cr);
  detail::setSourceColor(cr, label.textColor, label.traitCollection());
  // Text sits vertically centred in the label, as on the platform. The layout keeps the
  // measurer's point metrics (hinting is off, so glyphs still come out sharp at any scale), and
  // only the shown lines are drawn.
  const double top = bounds.minY() + (bounds.height() - size.height) / 2;
  PangoLayoutIter* iter = pango_layout_get_iter(layout.get());
  for (int i = 0; i < lines; ++i) {
    PangoRectangle logical;
    pango_layout_iter_get_line_extents(iter, nullptr, &logical);
    const double baseline = static_cast<double>(pango_layout_iter_get_baseline(iter)) / PANGO_SCALE;
    cairo_move_to(cr, bounds.minX() + static_cast<double>(logical.x) / PANGO_SCALE, top + baseline);
    pango_cairo_show_layout_line(cr, pango_layout_iter_get_line_readonly(iter));
    if (!pango_layout_iter_next_line(iter)) break;
  }
  pango_layout_iter_free(iter);
  cairo_restore(cr);
}

/// A page control's dots: one per page in a centred row, the current page's in its own colour.
/// Rows wider than the control close up so every dot stays inside.
void drawPageDots(cairo_t* cr, const UIPageControl& control, const CGRect& bounds, const UITraitCollection& traits) {
  const int pages = control.numberOfPages();
  if (pages <= 0 || (pages == 1 && control.hidesForSinglePage) || bounds.isEmpty()) return;
  constexpr double kDot = 7, kStep = 16;
  double step = std::min(kStep, bounds.width() / pages);
  double dot = std::min(kDot, step * 0.75);
  double x = bounds.minX() + (bounds.width() - step * (pages - 1)) / 2, y = bounds.minY() + bounds.height() / 2;
  UIColor other = control.pageIndicatorTintColor.value_or(UIColor::lightGrayColor());
  UIColor current = control.currentPageIndicatorTintColor.value_or(UIColor::darkGrayColor());
  for (int i = 0; i < pages; ++i, x += step) {
    cairo_new_path(cr);
    cairo_arc(cr, x, y, dot / 2, 0, 2 * M_PI);
    detail::setSourceColor(cr, i == control.currentPage() ? current : other, traits);
    cairo_fill(cr);
  }
}

/// A switch: a rounded track, filled with its on tint when on and a light grey when off, with a
/// white round thumb at the right end when on and at the left end when off. The switch keeps
/// its own size whatever its bounds, centred in them, as the platform's does.
void drawSwitch(cairo_t* cr, const UISwitch& toggle, const CGRect& bounds, const UITraitCollection& traits) {
  const CGSize size = toggle.intrinsicContentSize();
  const double x = bounds.minX() + (bounds.width() - size.width) / 2;
  const double y = bounds.minY() + (bounds.height() - size.height) / 2;
  const double radius = size.height / 2;
  const bool dark = traits.userInterfaceStyle == UIUserInterfaceStyle::Dark;
  const UIColor off = dark ? UIColor(57 / 255.0, 57 / 255.0, 61 / 255.0) : UIColor(233 / 255.0, 233 / 255.0, 234 / 255.0);
  const UIColor on = toggle.onTintColor.value_or(UIColor(52 / 255.0, 199 / 255.0, 89 / 255.0));
  detail::setPath(cr, UIBezierPath::roundedRect({x, y, size.width, size.height}, radius));
  detail::setSourceColor(cr, toggle.isOn() ? on : off, traits);
  cairo_fill(cr);
  constexpr double kInset = 2;
  const double thumb = radius - kInset;
  const double cx = toggle.isOn() ? x + size.width - radius : x + radius;
  cairo_new_path(cr);
  cairo_arc(cr, cx, y + radius, thumb, 0, 2 * M_PI);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_fill_preserve(cr);
  // A faint edge keeps the white thumb apart from a light track.
  cairo_set_source_rgba(cr, 0, 0, 0, 0.08);
  cairo_set_line_width(cr, 0.5);
  cairo_stroke(cr);
}

/// A text field: its edge, then its text (or its placeholder in grey) on one line, scrolled so
/// the caret stays in view, with the selection behind the text and the caret while editing.
void drawTextField(cairo_t* cr, const UITextField& field, const CGRect& bounds, const UITraitCollection& traits) {
  if (bounds.isEmpty()) return;
  const bool dark = traits.userInterfaceStyle == UIUserInterfaceStyle::Dark;
  switch (field.borderStyle) {
    case UITextBorderStyle::None: break;
    case UITextBorderStyle::RoundedRect:
      detail::setPath(cr, UIBezierPath::roundedRect(bounds.insetBy(0.5, 0.5), 5));
      detail::setSourceColor(cr, dark ? UIColor::white(0.11) : UIColor::whiteColor(), traits);
      cairo_fill_preserve(cr);
      detail::setSourceColor(cr, dark ? UIColor::white(0.3) : UIColor::white(0.8), traits);
      cairo_set_line_width(cr, 1);
      cairo_stroke(cr);
      break;
    case UITextBorderStyle::Line:
    case UITextBorderStyle::Bezel:
      detail::setPath(cr, UIBezierPath::rect(bounds.insetBy(0.5, 0.5)));
      detail::setSourceColor(cr, field.borderStyle == UITextBorderStyle::Line ? UIColor::labelColor() : UIColor::grayColor(),
                             traits);
      cairo_set_line_width(cr, 1);
      cairo_stroke(cr);
      break;
  }
  // Bordered fields keep their text off the edge.
  const double inset = field.borderStyle == UITextBorderStyle::None ? 0 : 7;
  const CGRect inner = bounds.insetBy(inset, 0);
  if (inner.isEmpty()) return;
  const bool placeholder = field.text().empty();
  const bool editing = field.isEditing();
  auto lock = detail::pangoLock();
  auto layout = detail::makeTextLayout(placeholder ? field.placeholder : field.text(), field.font, 0);
  pango_layout_set_auto_dir(layout.get(), false);
  const UITextRange selection = placeholder ? UITextRange{} : field.selectedRange();
  auto xAt = [&](std::size_t index) {
    PangoRectangle pos;
    pango_layout_index_to_pos(layout.get(), static_cast<int>(std::min(index, field.text().size())), &pos);
    return static_cast<double>(pos.x) / PANGO_SCALE;
  };
  const double caret = xAt(selection.location + selection.length);
  constexpr double kCaretWidth = 2;
  // The text slides left when the caret would leave the field.
  const double scroll = std::max(0.0, caret + kCaretWidth - inner.width());
  const double lineHeight = std::max(field.font.pointSize * 1.2, detail::layoutSize(layout.get(), 1).height);
  const double top = inner.minY() + (inner.height() - lineHeight) / 2;
  const double left = inner.minX() - scroll;
  cairo_save(cr);
  cairo_rectangle(cr, inner.minX(), inner.minY(), inner.width(), inner.height());
  cairo_clip(cr);
  const UIColor tint = field.tintColor();
  if (selection.length > 0) {
    const double from = xAt(selection.location), to = xAt(selection.end());
    cairo_rectangle(cr, left + std::min(from, to), top, std::fabs(to - from), lineHeight);
    detail::setSourceColor(cr, tint, traits, 0.3);
    cairo_fill(cr);
  }
  if (placeholder) detail::setSourceColor(cr, dark ? UIColor::white(0.92, 0.3) : UIColor(0.24, 0.24, 0.26, 0.3), traits);
  else detail::setSourceColor(cr, field.textColor.value_or(UIColor::labelColor()), traits);
  const double layoutHeight = detail::layoutSize(layout.get(), 1).height;
  cairo_move_to(cr, left, top + (lineHeight - layoutHeight) / 2);
  pango_cairo_show_layout(cr, layout.get());
  if (editing && selection.length == 0) {
    cairo_rectangle(cr, left + (placeholder ? 0 : caret), top, kCaretWidth, lineHeight);
    detail::setSourceColor(cr, tint, traits);
    cairo_fill(cr);
  }
  cairo_restore(cr);
}

/// A spinner's spokes, darkest at the top and fading round the circle. The turning comes from
/// the rotation animation the spinner runs on its layer.
void drawSpinner(cairo_t* cr, const UIActivityIndicatorView& spinner, const CGRect& bounds,
                 const UITraitCollection& traits) {
  constexpr int kSpokes = 8;
  const CGSize size = spinner.intrinsicContentSize();
  const double radius = std::min({size.width, size.height, bounds.width(), bounds.height()}) / 2;
  if (radius <= 0) return;
  const bool light = spinner.style == UIActivityIndicatorViewStyle::White ||
                     spinner.style == UIActivityIndicatorViewStyle::WhiteLarge;
  const UIColor defaultColor = light || traits.userInterfaceStyle == UIUserInterfaceStyle::Dark ? UIColor::white(0.92)
                                                                                                : UIColor::white(0.45);
  const UIColor color = spinner.color.value_or(defaultColor);
  const double cx = bounds.minX() + bounds.width() / 2, cy = bounds.minY() + bounds.height() / 2;
  cairo_save(cr);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_width(cr, radius * 0.22);
  for (int i = 0; i < kSpokes; ++i) {
    // Spoke 0 leads; the ones behind it fade, so the turning reads as motion.
    const double angle = -M_PI / 2 - i * 2 * M_PI / kSpokes;
    const double c = std::cos(angle), sn = std::sin(angle);
    cairo_new_path(cr);
    cairo_move_to(cr, cx + c * radius * 0.5, cy + sn * radius * 0.5);
    cairo_line_to(cr, cx + c * radius * 0.9, cy + sn * radius * 0.9);
    detail::setSourceColor(cr, color, traits, 1.0 - 0.8 * i / kSpokes);
    cairo_stroke(cr);
  }
  cairo_restore(cr);
}

/// The wash a blur style lays over the blurred background.
UIColor blurWash(UIBlurEffectStyle style, const UITraitCollection& traits) {
  const bool dark = traits.userInterfaceStyle == UIUserInterfaceStyle::Dark;
  switch (style) {
    case UIBlurEffectStyle::ExtraLight: return UIColor::white(0.97, 0.8);
    case UIBlurEffectStyle::Light: return UIColor::white(1, 0.6);
    case UIBlurEffectStyle::Dark: return UIColor::white(0.11, 0.73);
    case UIBlurEffectStyle::Prominent: return dark ? UIColor::white(0.1, 0.82) : UIColor::white(0.97, 0.82);
    case UIBlurEffectStyle::Regular:
    case UIBlurEffectStyle::SystemMaterial: break;
  }
  return dark ? UIColor::white(0.12, 0.7) : UIColor::white(0.97, 0.7);
}

/// Box-blurs the four channels of an ARGB32 surface in place, `passes` times each way.
void blurARGB(cairo_surface_t* surface, int radius, int passes) {
  cairo_surface_flush(surface);
  const int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  std::vector<std::uint32_t> line(static_cast<std::size_t>(std::max(w, h)));
  auto blurLine = [&](unsigned char* start, int count, std::ptrdiff_t step) {
    auto at = [&](int i) { return reinterpret_cast<std::uint32_t*>(start + i * step); };
    for (int i = 0; i < count; ++i) line[i] = *at(i);
    const int window = 2 * radius + 1;
    for (int shift : {0, 8, 16, 24}) {
      int sum = 0;
      // The edges repeat outwards, so the border does not darken.
      for (int i = -radius; i <= radius; ++i) sum += line[std::clamp(i, 0, count - 1)] >> shift & 255;
      for (int i = 0; i < count; ++i) {
        std::uint32_t& out = *at(i);
        out = (out & ~(255u << shift)) | (static_cast<std::uint32_t>(sum / window) << shift);
        sum += static_cast<int>(line[std::min(i + radius + 1, count - 1)] >> shift & 255) -
               static_cast<int>(line[std::max(i - radius, 0)] >> shift & 255);
      }
    }
  };
  for (int round = 0; round < passes; ++round) {
    for (int y = 0; y < h; ++y) blurLine(data + static_cast<std::ptrdiff_t>(y) * stride, w, 4);
    for (int x = 0; x < w; ++x) blurLine(data + static_cast<std::ptrdiff_t>(x) * 4, h, stride);
  }
  cairo_surface_mark_dirty(surface);
}

/// A blur: what was drawn below the view on the screen's bitmap, blurred, then the style's wash.
/// The blur works on a quarter-size copy and is scaled back up smoothly, which keeps a
/// full-screen blur well within a frame at 60 Hz and looks the same as a full-size blur of that
/// radius.
void drawBlur(cairo_t* cr, cairo_surface_t* screen, const UIVisualEffectView& view, const CGRect& bounds,
              const UITraitCollection& traits) {
  if (!view.effect || bounds.isEmpty()) return;
  constexpr int kDownscale = 4;
  constexpr double kBlurRadiusPoints = 20;
  cairo_surface_t* target = screen;
  if (target && cairo_surface_get_type(target) == CAIRO_SURFACE_TYPE_IMAGE) {
    // Device space is in points; the bitmap's pixels are `ds` times finer.
    double ds = 1, dsy = 1;
    cairo_surface_get_device_scale(target, &ds, &dsy);
    double x0 = bounds.minX(), y0 = bounds.minY(), x1 = bounds.maxX(), y1 = bounds.maxY();
    double xs[4] = {x0, x1, x0, x1}, ys[4] = {y0, y0, y1, y1};
    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    for (int i = 0; i < 4; ++i) {
      cairo_user_to_device(cr, &xs[i], &ys[i]);
      xs[i] *= ds;
      ys[i] *= dsy;
      minX = std::min(minX, xs[i]); maxX = std::max(maxX, xs[i]);
      minY = std::min(minY, ys[i]); maxY = std::max(maxY, ys[i]);
    }
    const int tw = cairo_image_surface_get_width(target), th = cairo_image_surface_get_height(target);
    const int px = std::clamp(static_cast<int>(std::floor(minX)), 0, tw), py = std::clamp(static_cast<int>(std::floor(minY)), 0, th);
    const int pw = std::clamp(static_cast<int>(std::ceil(maxX)), 0, tw) - px;
    const int ph = std::clamp(static_cast<int>(std::ceil(maxY)), 0, th) - py;
    if (pw > 0 && ph > 0) {
      const int sw = (pw + kDownscale - 1) / kDownscale, sh = (ph + kDownscale - 1) / kDownscale;
      SurfacePtr small = detail::scratchSurface(CAIRO_FORMAT_ARGB32, sw, sh);
      {
        ContextPtr s(cairo_create(small.get()));
        cairo_scale(s.get(), 1.0 / kDownscale, 1.0 / kDownscale);
        cairo_surface_flush(target);
        // The target is read pixel for pixel: its device scale must not apply here.
        cairo_surface_set_device_scale(target, 1, 1);
        cairo_set_source_surface(s.get(), target, -px, -py);
        cairo_pattern_set_filter(cairo_get_source(s.get()), CAIRO_FILTER_GOOD);
        cairo_paint(s.get());
        cairo_set_source_rgb(s.get(), 0, 0, 0);
        cairo_surface_set_device_scale(target, ds, dsy);
        const double scale = std::sqrt(std::fabs((xs[1] - xs[0]) * (ys[2] - ys[0])) / (bounds.width() * bounds.height()));
        const int radius = std::max(1, static_cast<int>(std::lround(kBlurRadiusPoints * scale / kDownscale / 2)));
        blurARGB(small.get(), radius, 2);
      }
      cairo_save(cr);
      detail::setPath(cr, UIBezierPath::rect(bounds));
      cairo_clip(cr);
      cairo_identity_matrix(cr);
      cairo_scale(cr, 1 / ds, 1 / dsy);
      cairo_translate(cr, px, py);
      cairo_scale(cr, kDownscale, kDownscale);
      cairo_set_source_surface(cr, small.get(), 0, 0);
      cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
      cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
      cairo_paint(cr);
      cairo_restore(cr);
    }
  }
  detail::setPath(cr, UIBezierPath::rect(bounds));
  detail::setSourceColor(cr, blurWash(*view.effect, traits), traits);
  cairo_fill(cr);
}

/// Where an image of `image` points goes in `bounds` for the view's content mode.
CGRect imageRect(CGSize image, const CGRect& bounds, UIViewContentMode mode) {
  double bw = bounds.width(), bh = bounds.height(), iw = image.width, ih = image.height;
  if (iw <= 0 || ih <= 0) return {};
  double x = bounds.minX(), y = bounds.minY();
  switch (mode) {
    case UIViewContentMode::ScaleToFill:
    case UIViewContentMode::Redraw: return bounds;
    case UIViewContentMode::ScaleAspectFit:
    case UIViewContentMode::ScaleAspectFill: {
      double s = mode == UIViewContentMode::ScaleAspectFit ? std::min(bw / iw, bh / ih) : std::max(bw / iw, bh / ih);
      return {x + (bw - iw * s) / 2, y + (bh - ih * s) / 2, iw * s, ih * s};
    }
    default: break;
  }
  double left = x, midX = x + (bw - iw) / 2, right = x + bw - iw;
  double top = y, midY = y + (bh - ih) / 2, bottom = y + bh - ih;
  switch (mode) {
    case UIViewContentMode::Top: return {midX, top, iw, ih};
    case UIViewContentMode::Bottom: return {midX, bottom, iw, ih};
    case UIViewContentMode::Left: return {left, midY, iw, ih};
    case UIViewContentMode::Right: return {right, midY, iw, ih};
    case UIViewContentMode::TopLeft: return {left, top, iw, ih};
    case UIViewContentMode::TopRight: return {right, top, iw, ih};
    case UIViewContentMode::BottomLeft: return {left, bottom, iw, ih};
    case UIViewContentMode::BottomRight: return {right, bottom, iw, ih};
    default: return {midX, midY, iw, ih};
  }
}

/// The layer's own content: a shape layer's path, a label's text, an image view's image, a
/// control's own drawing.
void drawContent(Pass& pass, const CALayer& layer, const Look& look, const UITraitCollection& traits) {
  if (auto* shape = dynamic_cast<const CAShapeLayer*>(&layer)) drawShape(pass, *shape, traits);
  auto it = pass.views.find(&layer);
  if (it == pass.views.end()) return;
  if (auto* label = dynamic_cast<const UILabel*>(it->second)) {
    drawLabel(pass.cr, *label, look.bounds);
  } else if (auto* imageView = dynamic_cast<const UIImageView*>(it->second)) {
    // A running frame animation shows its frame of the moment drawn.
    auto image = imageView->displayedImageAt(pass.time);
    if (!image) return;
    UIColor tint = imageView->tintColor();
    detail::drawImage(pass.cr, *image, imageRect(image->size(), look.bounds, imageView->contentMode), &tint, traits);
  } else if (auto* pages = dynamic_cast<const UIPageControl*>(it->second)) {
    drawPageDots(pass.cr, *pages, look.bounds, traits);
  } else if (auto* toggle = dynamic_cast<const UISwitch*>(it->second)) {
    drawSwitch(pass.cr, *toggle, look.bounds, traits);
  } else if (auto* field = dynamic_cast<const UITextField*>(it->second)) {
    drawTextField(pass.cr, *field, look.bounds, traits);
  } else if (auto* spinner = dynamic_cast<const UIActivityIndicatorView*>(it->second)) {
    drawSpinner(pass.cr, *spinner, look.bounds, traits);
  } else if (auto* blur = dynamic_cast<const UIVisualEffectView*>(it->second)) {
    drawBlur(pass.cr, pass.screen, *blur, look.bounds, traits);
  }
}

void drawLayerTree(Pass& pass, const CALayer& layer, UITraitCollection traits);

/// Background, content, sublayers (clipped when the layer masks to its bounds), then the border
/// on top: the order in which the platform composes a layer.
void drawBody(Pass& pass, const CALayer& layer, const Look& look, const UITraitCollection& traits) {
  cairo_t* cr = pass.cr;
  if (look.background) {
    detail::setPath(cr, boundsPath(look.bounds, look.cornerRadius));
    detail::setSourceColor(cr, *look.background, traits);
    cairo_fill(cr);
  }
  cairo_save(cr);
  if (layer.masksToBounds()) {
    detail::setPath(cr, boundsPath(look.bounds, look.cornerRadius));
    cairo_clip(cr);
  }
  drawContent(pass, layer, look, traits);
  for (const auto& sub : layer.sublayers()) drawLayerTree(pass, *sub, traits);
  cairo_restore(cr);
  if (look.border && look.borderWidth > 0) {
    // The border lies inside the bounds.
    double w = std::min(look.borderWidth, std::min(look.bounds.width(), look.bounds.height()) / 2);
    CGRect inner = look.bounds.insetBy(w / 2, w / 2);
    detail::setPath(cr, boundsPath(inner, std::max(0.0, look.cornerRadius - w / 2)));
    cairo_set_line_width(cr, w);
    detail::setSourceColor(cr, *look.border, traits);
    cairo_stroke(cr);
  }
}

/// Blurs an A8 surface in place with three box passes each way, close to a Gaussian of
/// deviation `sigma` pixels. Only the area around the covered pixels is blurred, so a small
/// shadow on a large screen costs little.
void blurAlpha(cairo_surface_t* surface, double sigma) {
  if (sigma < 0.5) return;
  cairo_surface_flush(surface);
  const int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  int x0 = w, y0 = h, x1 = -1, y1 = -1;
  for (int y = 0; y < h; ++y) {
    const unsigned char* row = data + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < w; ++x) {
      if (!row[x]) continue;
      x0 = std::min(x0, x); x1 = std::max(x1, x);
      y0 = std::min(y0, y); y1 = std::max(y1, y);
    }
  }
  if (x1 < 0) return;
  const int r = std::max(1, static_cast<int>(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2)));
  // Three passes of radius r spread the coverage by 3r on each side.
  x0 = std::max(0, x0 - 3 * r); y0 = std::max(0, y0 - 3 * r);
  x1 = std::min(w - 1, x1 + 3 * r); y1 = std::min(h - 1, y1 + 3 * r);
  std::vector<unsigned char> line(static_cast<std::size_t>(std::max(w, h)));
  auto pass = [&](unsigned char* start, int count, int step) {
    for (int i = 0; i < count; ++i) line[i] = start[static_cast<std::ptrdiff_t>(i) * step];
    int sum = 0;
    for (int i = 0; i <= r && i < count; ++i) sum += line[i];
    for (int i = 0; i < count; ++i) {
      start[static_cast<std::ptrdiff_t>(i) * step] = static_cast<unsigned char>(sum / (2 * r + 1));
      int out = i - r, in = i + r + 1;
      if (out >= 0) sum -= line[out];
      if (in < count) sum += line[in];
    }
  };
  for (int round = 0; round < 3; ++round) {
    for (int y = y0; y <= y1; ++y) pass(data + static_cast<std::ptrdiff_t>(y) * stride + x0, x1 - x0 + 1, 1);
    for (int x = x0; x <= x1; ++x) pass(data + static_cast<std::ptrdiff_t>(y0) * stride + x, y1 - y0 + 1, stride);
  }
  cairo_surface_mark_dirty(surface);
}

/// Paints the layer's shadow: the shadow path, or else the outline of what the layer draws
/// (`content`), offset, blurred and coloured. `parent` is the transform above the layer's own.
void drawShadow(Pass& pass, const Look& look, cairo_pattern_t* content, const cairo_matrix_t& parent,
                const UITraitCollection& traits) {
  cairo_t* cr = pass.cr;
  cairo_surface_t* target = cairo_get_group_target(cr);
  if (cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE) return;
  double ox = 0, oy = 0;
  cairo_surface_get_device_offset(target, &ox, &oy);
  int w = cairo_image_surface_get_width(target), h = cairo_image_surface_get_height(target);
  if (w <= 0 || h <= 0) return;
  double sx = 1, sy = 1;
  cairo_surface_get_device_scale(target, &sx, &sy);
  // The alpha surface covers the same pixels as the target, so both share one device space.
  SurfacePtr alpha = detail::scratchSurface(CAIRO_FORMAT_A8, w, h);
  cairo_surface_set_device_offset(alpha.get(), ox, oy);
  cairo_surface_set_device_scale(alpha.get(), sx, sy);
  {
    ContextPtr m(cairo_create(alpha.get()));
    cairo_matrix_t ctm;
    cairo_get_matrix(cr, &ctm);
    cairo_set_matrix(m.get(), &ctm);
    if (look.shadowPath) {
      detail::setPath(m.get(), *look.shadowPath);
      cairo_fill(m.get());
    } else {
      cairo_set_source(m.get(), content);
      cairo_paint(m.get());
    }
  }
  double scale = std::sqrt(std::fabs(parent.xx * parent.yy - parent.xy * parent.yx)) * sx;
  blurAlpha(alpha.get(), look.shadowRadius / 2 * scale);
  // The offset is measured in the superlayer's space.
  double dx = look.shadowOffset.width, dy = look.shadowOffset.height;
  cairo_matrix_transform_distance(&parent, &dx, &dy);
  cairo_save(cr);
  cairo_identity_matrix(cr);
  detail::setSourceColor(cr, *look.shadowColor, traits, look.shadowOpacity * look.opacity);
  cairo_mask_surface(cr, alpha.get(), dx, dy);
  cairo_restore(cr);
}

/// Drawing that is composed as one picture (for opacity, a mask or a shadow). Into an image
/// surface it draws into a kept bitmap covering the clip, with the same device space as the
/// surface below, so a frame allocates no bitmap; into any other surface, into a Cairo group.
class Group {
 public:
  explicit Group(Pass& pass) : pass_(pass), outer_(pass.cr) {
    cairo_get_matrix(outer_, &ctm_);
    cairo_surface_t* below = cairo_get_group_target(outer_);
    if (cairo_surface_get_type(below) != CAIRO_SURFACE_TYPE_IMAGE) {
      cairo_push_group(outer_);
      return;
    }
    double ox = 0, oy = 0, sx = 1, sy = 1;
    cairo_surface_get_device_offset(below, &ox, &oy);
    cairo_surface_get_device_scale(below, &sx, &sy);
    // The clip's extents in the pixels of the surface below, cut to it.
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    cairo_clip_extents(outer_, &x0, &y0, &x1, &y1);
    double xs[4] = {x0, x1, x0, x1}, ys[4] = {y0, y0, y1, y1};
    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    for (int i = 0; i < 4; ++i) {
      cairo_user_to_device(outer_, &xs[i], &ys[i]);
      minX = std::min(minX, xs[i] * sx + ox); maxX = std::max(maxX, xs[i] * sx + ox);
      minY = std::min(minY, ys[i] * sy + oy); maxY = std::max(maxY, ys[i] * sy + oy);
    }
    const int w = cairo_image_surface_get_width(below), h = cairo_image_surface_get_height(below);
    const int px = std::clamp(static_cast<int>(std::floor(minX)), 0, w);
    const int py = std::clamp(static_cast<int>(std::floor(minY)), 0, h);
    const int pw = std::clamp(static_cast<int>(std::ceil(maxX)), 0, w) - px;
    const int ph = std::clamp(static_cast<int>(std::ceil(maxY)), 0, h) - py;
    surface_ = detail::scratchSurface(CAIRO_FORMAT_ARGB32, std::max(pw, 1), std::max(ph, 1));
    cairo_surface_set_device_scale(surface_.get(), sx, sy);
    cairo_surface_set_device_offset(surface_.get(), ox - px, oy - py);
    inner_.reset(cairo_create(surface_.get()));
    cairo_set_matrix(inner_.get(), &ctm_);
    pass_.cr = inner_.get();
  }
  Group(const Group&) = delete;
  Group& operator=(const Group&) = delete;

  /// What was drawn, as a source for the context drawn into before the group began, under the
  /// same transform.
  PatternPtr end() {
    pass_.cr = outer_;
    if (!inner_) return PatternPtr(cairo_pop_group(outer_));
    inner_.reset();
    PatternPtr pattern(cairo_pattern_create_for_surface(surface_.get()));
    cairo_pattern_set_matrix(pattern.get(), &ctm_);
    return pattern;
  }

 private:
  Pass& pass_;
  cairo_t* outer_;
  cairo_matrix_t ctm_;
  SurfacePtr surface_;
  ContextPtr inner_;
};

void drawLayerTree(Pass& pass, const CALayer& layer, UITraitCollection traits) {
  if (layer.isHidden()) return;
  Look look = lookAt(layer, pass.time);
  if (look.opacity <= 0) return;
  cairo_matrix_t m = placement(look);
  if (!invertible(m)) return;
  cairo_t* cr = pass.cr;
  auto view = pass.views.find(&layer);
  if (view != pass.views.end()) traits = view->second->traitCollection();
  // A layer that clips to its bounds clips its own shadow away, as on the platform.
  const bool shadow = look.shadowOpacity > 0 && look.shadowColor && !layer.masksToBounds();
  const bool grouped = shadow || look.opacity < 1 || layer.mask();
  cairo_matrix_t parent;
  cairo_get_matrix(cr, &parent);
  cairo_save(cr);
  cairo_transform(cr, &m);
  if (!grouped) {
    drawBody(pass, layer, look, traits);
    cairo_restore(cr);
    return;
  }
  PatternPtr content;
  {
    Group body(pass);
    drawBody(pass, layer, look, traits);
    content = body.end();
  }
  if (auto mask = layer.mask()) {
    // The mask is placed in this layer's bounds coordinates; only its alpha counts.
    PatternPtr alpha;
    {
      Group masking(pass);
      drawLayerTree(pass, *mask, traits);
      alpha = masking.end();
    }
    Group masked(pass);
    cairo_set_source(pass.cr, content.get());
    cairo_mask(pass.cr, alpha.get());
    content = masked.end();
  }
  if (shadow) drawShadow(pass, look, content.get(), parent, traits);
  cairo_set_source(cr, content.get());
  cairo_paint_with_alpha(cr, look.opacity);
  cairo_restore(cr);
}

}  // namespace

void Renderer::drawLayer(cairo_t* cr, const CALayer& layer, double time, const UIView* root) {
  Pass pass{cr, time, {}, cairo_get_target(cr)};
  if (root) indexViews(*root, pass);
  drawLayerTree(pass, layer, root ? root->traitCollection() : UITraitCollection{});
}

void Renderer::drawView(cairo_t* cr, const UIView& view, double time) {
  const CALayer& layer = *view.layer();
  Look look = lookAt(layer, time);
  // Undo the view's own placement so that its bounds coordinates are the user space.
  cairo_save(cr);
  cairo_matrix_t m = placement(look);
  if (invertible(m)) {
    cairo_matrix_invert(&m);
    cairo_transform(cr, &m);
    drawLayer(cr, layer, time, &view);
  }
  cairo_restore(cr);
}

foundation::Result<std::shared_ptr<UIImage>> Renderer::renderView(const UIView& view, double scale,
                                                                  std::optional<double> time) {
  if (!(scale > 0)) scale = view.traitCollection().displayScale > 0 ? view.traitCollection().displayScale : 1.0;
  CGRect bounds = view.bounds();
  auto surface = detail::makeSurface(bounds.size, scale);
  if (!surface) return surface.error();
  {
    ContextPtr cr(cairo_create(surface->get()));
    cairo_translate(cr.get(), -bounds.origin.x, -bounds.origin.y);
    drawView(cr.get(), view, time.value_or(CACurrentMediaTime()));
  }
  return UIImage::createWithCGImage(detail::imageFromSurface(surface->get()), scale);
}

void Renderer::drawScreen(cairo_t* cr, const std::vector<std::shared_ptr<UIView>>& views, double time) {
  cairo_save(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_paint(cr);
  cairo_restore(cr);
  for (const auto& view : views) {
    if (!view) continue;
    const CGRect frame = view->frame(), bounds = view->bounds();
    cairo_save(cr);
    cairo_translate(cr, frame.origin.x - bounds.origin.x, frame.origin.y - bounds.origin.y);
    drawView(cr, *view, time);
    cairo_restore(cr);
  }
}

foundation::Result<std::shared_ptr<UIImage>> Renderer::renderScreen(const std::vector<std::shared_ptr<UIView>>& views,
                                                                    CGSize size, double scale, double time) {
  if (!(scale > 0)) scale = 1;
  auto surface = detail::makeSurface(size, scale);
  if (!surface) return surface.error();
  {
    ContextPtr cr(cairo_create(surface->get()));
    drawScreen(cr.get(), views, time);
  }
  return UIImage::createWithCGImage(detail::imageFromSurface(surface->get()), scale);
}

foundation::Result<void> Renderer::renderViewToPNG(const UIView& view, const std::string& path, double scale,
                                                   std::optional<double> time) {
  auto image = renderView(view, scale, time);
  if (!image) return image.error();
  return writePNG(**image, path);
}

foundation::Result<foundation::Data> UIImagePNGRepresentation(const UIImage& image) {
  const auto& bitmap = image.cgImage();
  if (!bitmap || !bitmap->isValid()) return makeUIKitError(UIKitError::ImageEncoding, "the image has no pixels");
  SurfacePtr surface = detail::surfaceForImage(*bitmap);
  std::string bytes;
  // Called by cairo: running out of memory for the bytes stops the encoding with cairo's own error.
  auto write = [](void* closure, const unsigned char* data, unsigned int length) noexcept {
    return dispatch::guardCallback(
        "PNG writer",
        [&] {
          static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
          return CAIRO_STATUS_SUCCESS;
        },
        [](const char*) { return CAIRO_STATUS_NO_MEMORY; });
  };
  cairo_status_t status = cairo_surface_write_to_png_stream(surface.get(), write, &bytes);
  if (status != CAIRO_STATUS_SUCCESS) return makeUIKitError(UIKitError::ImageEncoding, cairo_status_to_string(status));
  return foundation::Data(std::move(bytes));
}

foundation::Result<void> writePNG(const UIImage& image, const std::string& path) {
  auto png = UIImagePNGRepresentation(image);
  if (!png) return png.error();
  return foundation::FileManager::defaultManager().writeFileAtomically(path, *png);
}

}  // namespace uikit
