#include "platform/uikit/FontTextMeasurer.h"

#include <limits>

#include "platform/uikit/detail/PangoText.h"

namespace uikit {

CGSize FontTextMeasurer::measure(std::string_view text, const UIFont& font, CGFloat maxWidth,
                                 int numberOfLines) const {
  if (text.empty()) return {0, 0};
  auto lock = detail::pangoLock();
  auto layout = detail::makeTextLayout(text, font, maxWidth);
  int lines = detail::cutToLines(layout.get(), numberOfLines, std::numeric_limits<CGFloat>::infinity());
  return detail::layoutSize(layout.get(), lines);
}

}  // namespace uikit
