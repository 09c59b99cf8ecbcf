#pragma once
#include <cstddef>
#include <string_view>

namespace detail {

/// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUTF8(std::string_view text);

/// The longest prefix of `text` whose length in UTF-16 code units is at most `maxUnits`, cut at a
/// character boundary (a character outside the basic plane counts two units and is never split).
/// Text that is not valid UTF-8 is counted byte by byte from the first invalid byte on.
std::string_view prefixWithinUTF16Length(std::string_view text, std::size_t maxUnits);

}  // namespace detail
