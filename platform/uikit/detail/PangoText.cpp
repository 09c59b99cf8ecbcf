#include "platform/uikit/detail/PangoText.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <mutex>
#include <string>

namespace uikit::detail {
namespace {

std::mutex& pangoMutex() {
  static std::mutex m;
  return m;
}

/// The one context every layout is made in; made on first use and kept for the process.
PangoContext* sharedContext() {
  static PangoContext* context = [] {
    PangoFontMap* map = pango_cairo_font_map_new();
    PangoContext* c = pango_font_map_create_context(map);
    g_object_unref(map);  // the context keeps the map
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(c, options);
    cairo_font_options_destroy(options);
    return c;
  }();
  return context;
}

/// The platform's system font is a sans-serif face; other families are asked for by name and
/// fall back to a sans-serif face through fontconfig.
std::string familyFor(const UIFont& font) {
  if (font.familyName.empty() || font.familyName == "System" || font.familyName.rfind(".SF", 0) == 0) return "Sans";
  return font.familyName;
}

}  // namespace

std::unique_lock<std::mutex> pangoLock() { return std::unique_lock(pangoMutex()); }

LayoutPtr makeTextLayout(std::string_view text, const UIFont& font, CGFloat maxWidth, int numberOfLines) {
  LayoutPtr layout(pango_layout_new(sharedContext()));
  PangoFontDescription* description = pango_font_description_new();
  pango_font_description_set_family(description, familyFor(font).c_str());
  pango_font_description_set_weight(description, font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  double size = std::isfinite(font.pointSize) && font.pointSize > 0 ? std::min(font.pointSize, 4096.0) : 1.0;
  pango_font_description_set_absolute_size(description, size * PANGO_SCALE);
  pango_layout_set_font_description(layout.get(), description);
  pango_font_description_free(description);
  // Text that is not valid UTF-8 is shown with replacement characters rather than refused.
  pango_layout_set_text(layout.get(), text.data(), static_cast<int>(std::min<std::size_t>(text.size(), INT32_MAX)));
  if (std::isfinite(maxWidth) && maxWidth > 0) {
    pango_layout_set_width(layout.get(), static_cast<int>(std::min(maxWidth, 1e6) * PANGO_SCALE));
    pango_layout_set_wrap(layout.get(), numberOfLines == 1 ? PANGO_WRAP_CHAR : PANGO_WRAP_WORD_CHAR);
    if (numberOfLines == 1) {
      pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
    } else if (numberOfLines > 1) {
      pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
      pango_layout_set_height(layout.get(), -numberOfLines);
    }
  }
  return layout;
}

CGSize layoutSize(PangoLayout* layout, int numberOfLines) {
  if (pango_layout_get_character_count(layout) == 0) return {0, 0};
  int lines = pango_layout_get_line_count(layout);
  int counted = numberOfLines > 0 ? std::min(lines, numberOfLines) : lines;
  int width = 0, bottom = 0;
  PangoLayoutIter* iter = pango_layout_get_iter(layout);
  for (int i = 0; i < counted; ++i) {
    PangoRectangle logical;
    pango_layout_iter_get_line_extents(iter, nullptr, &logical);
    int y0 = 0, y1 = 0;
    pango_layout_iter_get_line_yrange(iter, &y0, &y1);
    width = std::max(width, logical.width);
    bottom = y1;
    if (!pango_layout_iter_next_line(iter)) break;
  }
  pango_layout_iter_free(iter);
  return {std::ceil(static_cast<double>(width) / PANGO_SCALE), std::ceil(static_cast<double>(bottom) / PANGO_SCALE)};
}

}  // namespace uikit::detail
