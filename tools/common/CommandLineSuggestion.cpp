#include "tools/common/CommandLineSuggestion.h"

#include <algorithm>

namespace fendrel::cli {

std::size_t editDistance(std::string_view a, std::string_view b) {
  // One row of the distance table at a time: memory grows with `b` only.
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::optional<std::string> closestMatch(std::string_view word, const std::vector<std::string>& candidates) {
  std::optional<std::string> best;
  std::size_t bestScore = 0;
  for (const std::string& candidate : candidates) {
    const std::size_t distance = editDistance(word, candidate);
    const bool isPrefix = word.size() >= 2 && candidate.starts_with(word);
    // Up to two edits, or one for short words, counts as a typing error; a clear prefix too.
    const std::size_t allowed = word.size() <= 3 ? 1 : 2;
    if (distance > allowed && !isPrefix) continue;
    const std::size_t score = isPrefix ? 0 : distance;
    if (!best || score < bestScore) {
      best = candidate;
      bestScore = score;
    }
  }
  return best;
}

}  // namespace fendrel::cli
