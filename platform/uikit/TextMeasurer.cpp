#include "platform/uikit/TextMeasurer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <vector>

namespace uikit {
namespace {

std::mutex& measurerMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<const TextMeasurer>& installed() {
  static std::shared_ptr<const TextMeasurer> measurer = std::make_shared<DeterministicTextMeasurer>();
  return measurer;
}

/// Code points per "\n"-separated paragraph.
std::vector<std::size_t> paragraphLengths(std::string_view text) {
  std::vector<std::size_t> lengths{0};
  for (unsigned char c : text) {
    if (c == '\n') lengths.push_back(0);
    else if ((c & 0xC0) != 0x80) ++lengths.back();
  }
  return lengths;
}

}  // namespace

std::shared_ptr<const TextMeasurer> TextMeasurer::current() {
  std::lock_guard lock(measurerMutex());
  return installed();
}

void TextMeasurer::setCurrent(std::shared_ptr<const TextMeasurer> measurer) {
  std::lock_guard lock(measurerMutex());
  installed() = measurer ? std::move(measurer) : std::make_shared<DeterministicTextMeasurer>();
}

CGSize DeterministicTextMeasurer::measure(std::string_view text, const UIFont& font, CGFloat maxWidth,
                                          int numberOfLines) const {
  if (text.empty()) return {0, 0};
  const double charWidth = 0.5 * font.pointSize, lineHeight = 1.2 * font.pointSize;
  std::size_t perLine = SIZE_MAX;
  if (std::isfinite(maxWidth) && maxWidth > 0 && charWidth > 0)
    perLine = std::max<std::size_t>(1, static_cast<std::size_t>(std::floor(maxWidth / charWidth + 1e-9)));
  std::size_t lines = 0, widest = 0;
  for (std::size_t n : paragraphLengths(text)) {
    std::size_t count = n == 0 || perLine == SIZE_MAX ? 1 : (n + perLine - 1) / perLine;
    lines += count;
    widest = std::max(widest, std::min(n, perLine));
  }
  if (numberOfLines > 0) lines = std::min(lines, static_cast<std::size_t>(numberOfLines));
  return {static_cast<double>(widest) * charWidth, static_cast<double>(lines) * lineHeight};
}

}  // namespace uikit
