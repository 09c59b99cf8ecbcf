#pragma once
#include <cstddef>
#include <string_view>
#include <vector>

namespace detail {

/// The longest prefix of `text` whose length in UTF-16 code units is at most `maxUnits`, cut at a
/// character boundary (a character outside the basic plane counts two units and is never split).
/// Text that is not valid UTF-8 is counted byte by byte from the first invalid byte on.
std::string_view prefixWithinUTF16Length(std::string_view text, std::size_t maxUnits);

/// The pieces of `text` between the separators, empty ones included (one piece for a text without
/// any).
std::vector<std::string_view> splitText(std::string_view text, char separator);

}  // namespace detail
