#include "platform/foundation/UTF8.h"

#include <cstdint>
#include <cstring>

namespace foundation {

std::size_t utf8SequenceLength(std::string_view text) {
  if (text.empty()) return 0;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const auto continues = [&](std::size_t i, unsigned char low = 0x80, unsigned char high = 0xBF) {
    return i < text.size() && byte(i) >= low && byte(i) <= high;
  };
  // The allowed second bytes depend on the lead byte: that is where overlong forms, surrogates
  // and code points above U+10FFFF are told apart from the rest.
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return continues(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;   // below: overlong
    const unsigned char high = lead == 0xED ? 0x9F : 0xBF;  // above: surrogates
    return continues(1, low, high) && continues(2) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;   // below: overlong
    const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;  // above: beyond U+10FFFF
    return continues(1, low, high) && continues(2) && continues(3) ? 4 : 0;
  }
  return 0;  // a continuation byte, C0, C1 or F5 to FF
}

bool isValidUTF8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    // Most text is ASCII: skip it eight bytes at a time.
    if (i + 8 <= text.size()) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + i, sizeof word);
      if ((word & 0x8080808080808080ULL) == 0) {
        i += 8;
        continue;
      }
    }
    const std::size_t length = utf8SequenceLength(text.substr(i));
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::optional<std::u32string> decodeUTF8(std::string_view text) {
  std::u32string points;
  points.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8SequenceLength(text.substr(i));
    if (length == 0) return std::nullopt;
    // The sequence is well-formed: the lead byte keeps 7, 5, 4 or 3 bits of the code point and
    // each continuation byte 6 more.
    const auto lead = static_cast<unsigned char>(text[i]);
    char32_t point = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) point = (point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
    points.push_back(point);
    i += length;
  }
  return points;
}

}  // namespace foundation
