#include "dozidi-cocoa/Sources/Dozidi/detail/DozidiText.h"

#include "platform/foundation/UTF8.h"

namespace detail {

std::string_view prefixWithinUTF16Length(std::string_view text, std::size_t maxUnits) {
  std::size_t bytes = 0;
  std::size_t units = 0;
  while (bytes < text.size()) {
    std::size_t length = foundation::utf8SequenceLength(text.substr(bytes));
    std::size_t width = length == 4 ? 2 : 1;
    if (length == 0) length = 1;
    if (units + width > maxUnits) break;
    units += width;
    bytes += length;
  }
  return text.substr(0, bytes);
}

std::vector<std::string_view> splitText(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t from = 0;
  for (;;) {
    const auto at = text.find(separator, from);
    parts.push_back(text.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
    if (at == std::string_view::npos) return parts;
    from = at + 1;
  }
}

}  // namespace detail
