#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fendrel::cli {

/// The number of single-character insertions, deletions and substitutions that turn `a` into `b`
/// (bytes, not characters: command words are ASCII).
std::size_t editDistance(std::string_view a, std::string_view b);

/// The candidate closest to `word` when it is close enough to be a likely typing error, for the
/// "did you mean" hint of a usage error: at most one edit for words of up to three characters, two
/// for longer ones, or a candidate that `word` (two characters or more) begins. Among several, a
/// prefix wins, then the fewest edits, then the first in `candidates`.
std::optional<std::string> closestMatch(std::string_view word, const std::vector<std::string>& candidates);

}  // namespace fendrel::cli
