#include "dozidi-cocoa/Sources/Dozidi/detail/DozidiUnicode.h"

#include <cstdint>

namespace detail {
namespace {

// Length of the well-formed UTF-8 sequence at the start of `text`, or 0 when it is not one.
std::size_t sequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const auto continuation = [&](std::size_t i) { return i < text.size() && (byte(i) & 0xC0) == 0x80; };
  const std::uint8_t lead = byte(0);
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (!continuation(1) || !continuation(2)) return 0;
    if (lead == 0xE0 && byte(1) < 0xA0) return 0;  // overlong
    if (lead == 0xED && byte(1) >= 0xA0) return 0; // surrogate
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
    if (lead == 0xF0 && byte(1) < 0x90) return 0;  // overlong
    if (lead == 0xF4 && byte(1) >= 0x90) return 0; // past U+10FFFF
    return 4;
  }
  return 0;
}

}  // namespace

bool isValidUTF8(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = sequenceLength(text);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

std::string_view prefixWithinUTF16Length(std::string_view text, std::size_t maxUnits) {
  std::size_t bytes = 0;
  std::size_t units = 0;
  while (bytes < text.size()) {
    std::size_t length = sequenceLength(text.substr(bytes));
    std::size_t width = length == 4 ? 2 : 1;
    if (length == 0) length = 1;
    if (units + width > maxUnits) break;
    units += width;
    bytes += length;
  }
  return text.substr(0, bytes);
}

}  // namespace detail
