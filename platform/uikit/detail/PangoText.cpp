#include "platform/uikit/detail/PangoText.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <mutex>
#include <string>
#include <vector>

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

LayoutPtr makeTextLayout(std::string_view text, const UIFont& font, CGFloat maxWidth) {
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
    // Rounded to the nearest Pango unit, so a width that comes back from layout arithmetic a
    // hair under the measured one still holds the measured lines.
    pango_layout_set_width(layout.get(), static_cast<int>(std::lround(std::min(maxWidth, 1e6) * PANGO_SCALE)));
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
  }
  return layout;
}

namespace {

/// Where each line of the layout ends, in Pango units from the layout's top.
std::vector<int> lineBottoms(PangoLayout* layout) {
  std::vector<int> bottoms;
  PangoLayoutIter* iter = pango_layout_get_iter(layout);
  do {
    int y0 = 0, y1 = 0;
    pango_layout_iter_get_line_yrange(iter, &y0, &y1);
    bottoms.push_back(y1);
  } while (pango_layout_iter_next_line(iter));
  pango_layout_iter_free(iter);
  return bottoms;
}

}  // namespace

int cutToLines(PangoLayout* layout, int numberOfLines, CGFloat maxHeight) {
  if (pango_layout_get_character_count(layout) == 0) return 0;
  const std::vector<int> bottoms = lineBottoms(layout);
  const int total = static_cast<int>(bottoms.size());
  int shown = numberOfLines > 0 ? std::min(total, numberOfLines) : total;
  if (std::isfinite(maxHeight)) {
    // Heights measured from this layout are its bottoms rounded up, so they hold every line;
    // the small allowance covers arithmetic on the way back from a layout pass.
    const double limit = (std::max(0.0, maxHeight) + 0.01) * PANGO_SCALE;
    while (shown > 1 && bottoms[shown - 1] > limit) --shown;
  }
  if (shown < total && pango_layout_get_width(layout) > 0) {
    // A height in Pango units limits the whole layout (a line count would limit each paragraph)
    // and ends the last line that fits with an ellipsis when its paragraph goes on.
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    pango_layout_set_height(layout, bottoms[shown - 1]);
    const std::vector<int> cut = lineBottoms(layout);
    if (static_cast<int>(cut.size()) != shown || cut.back() != bottoms[shown - 1]) {
      // Pango guesses the last line from the height of the line before it, which can miss
      // where lines differ in height: the text is then cut at the same line without the ellipsis.
      pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_NONE);
      pango_layout_set_height(layout, -1);
    }
  }
  return shown;
}

CGSize layoutSize(PangoLayout* layout, int lines) {
  if (pango_layout_get_character_count(layout) == 0 || lines <= 0) return {0, 0};
  int width = 0, bottom = 0;
  PangoLayoutIter* iter = pango_layout_get_iter(layout);
  for (int i = 0; i < lines; ++i) {
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
