#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace foundation {

// The one check of UTF-8 text in the system. Well-formed means what Unicode allows: no stray or
// missing continuation bytes, no overlong forms, no UTF-16 surrogates (U+D800 to U+DFFF) and
// nothing above U+10FFFF.

/// The length (1 to 4) of the well-formed sequence at the start of `text`; 0 when `text` is
/// empty or does not start with one. Allocates nothing and takes no lock: a crash report's
/// writer may call it.
std::size_t utf8SequenceLength(std::string_view text);

/// True when all of `text` is well-formed UTF-8 (the empty text is).
bool isValidUTF8(std::string_view text);

/// The code points of well-formed UTF-8 text; none when it is not.
std::optional<std::u32string> decodeUTF8(std::string_view text);

}  // namespace foundation
