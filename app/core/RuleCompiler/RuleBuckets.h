#pragma once
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"

namespace json {
class JSON;
}

namespace fendrel {

/// The action types that reach the rule file, in the order in which their buckets are written.
enum class RuleBucket : std::size_t { Block, CSSDisplayNone, IgnorePreviousRules };
inline constexpr std::size_t kRuleBucketCount = 3;

/// The bucket of an action type ("block", "css-display-none", "ignore-previous-rules", compared
/// exactly); none for every other type, whose rules are dropped.
std::optional<RuleBucket> bucketForActionType(std::string_view type);

/// The kept rules of one compilation, sorted into buckets. Each rule is stored as its compact JSON
/// text as soon as it is added, so that a compilation holds the parsed tree of one list at a time
/// and the kept rules only as text. The block bucket is written straight into the buffer of the
/// final file, which the other buckets are appended to at the end: the file is never copied whole.
class RuleBuckets {
 public:
  /// `expectedBytes` is reserved for the final file up front. Only the pages written are ever
  /// touched, so a generous estimate costs address space, not memory, and spares the copy a
  /// growing buffer makes; a file larger than the estimate still grows as needed.
  explicit RuleBuckets(std::size_t expectedBytes = 0);

  /// Appends `rule` to the end of `bucket`. Fails with the writer's error when the rule cannot be
  /// written as JSON.
  foundation::Result<void> add(RuleBucket bucket, const json::JSON& rule);
  /// Appends a rule given as its compact JSON text to the end of `bucket`.
  void addText(RuleBucket bucket, std::string_view rule);

  std::size_t count(RuleBucket bucket) const { return counts_[static_cast<std::size_t>(bucket)]; }
  std::size_t totalCount() const;
  bool empty() const { return totalCount() == 0; }
  /// The rules of one bucket as written, separated by ",".
  std::string_view text(RuleBucket bucket) const;

  /// The whole rule file: one compact JSON array, the buckets in order ("[]" when empty). Takes
  /// the buffers: the buckets are empty afterwards.
  std::string takeJoined();
  /// A short account for debugging: the count of each bucket and each bucket's text on a line.
  std::string dump() const;

 private:
  /// "[" followed by the block bucket; the final file once takeJoined() has run.
  std::string file_;
  /// The css-display-none and ignore-previous-rules buckets.
  std::array<std::string, kRuleBucketCount - 1> others_;
  std::array<std::size_t, kRuleBucketCount> counts_{};
};

}  // namespace fendrel
