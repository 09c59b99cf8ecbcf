#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"
#include "platform/foundation/URL.h"

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

/// The kept rules of one compilation, written to disk as they come, so that memory stays the same
/// whatever the number and size of the lists. The block bucket goes straight into a temporary
/// file beside the rule file, which opens with "["; the two buckets that come later in the file go
/// to anonymous files of their own in the same folder and are appended at the end. Each of the
/// three writes through one bounded buffer that is reused for the whole compilation and kept,
/// when the buckets go, for the next compilation in the process.
///
/// The rule file itself changes only in finish(), with one rename: a reader sees the previous
/// file or the new one. Dropping the buckets without finish() removes every file they made.
class RuleBuckets {
 public:
  /// Makes the temporary files in the folder of `output`; fails when they cannot be made.
  static foundation::Result<RuleBuckets> open(const foundation::URL& output);

  RuleBuckets(RuleBuckets&& other) noexcept;
  RuleBuckets& operator=(RuleBuckets&&) = delete;
  RuleBuckets(const RuleBuckets&) = delete;
  ~RuleBuckets();

  /// Appends `rule` to the end of `bucket`. Fails with the writer's error when the rule cannot be
  /// written as JSON.
  foundation::Result<void> add(RuleBucket bucket, const json::JSON& rule);
  /// Appends a rule given as its compact JSON text to the end of `bucket`. A failed write is
  /// remembered and reported by finish().
  void addText(RuleBucket bucket, std::string_view rule);

  /// Where every bucket stands, to take back what a list added when the list turns out malformed
  /// after some of its rules were written.
  struct Mark {
    std::array<std::size_t, kRuleBucketCount> counts{};
    std::array<std::uint64_t, kRuleBucketCount> bytes{};
  };
  Mark mark() const;
  /// Removes every rule added since `mark` was taken.
  void rollBack(const Mark& mark);

  std::size_t count(RuleBucket bucket) const { return streams_[static_cast<std::size_t>(bucket)].count; }
  std::size_t totalCount() const;
  bool empty() const { return totalCount() == 0; }

  /// Completes the rule file (one compact JSON array, the buckets in order; "[]" when empty),
  /// flushes it to disk and renames it over `output`. Every failure since open() is returned, and
  /// the previous file then stays in place.
  foundation::Result<void> finish();

 private:
  /// One bucket's file and its buffer.
  struct Stream {
    int fd = -1;
    std::string buffer;
    std::size_t count = 0;
    /// Bytes already written to `fd`.
    std::uint64_t written = 0;
  };

  RuleBuckets(std::string output, std::string temporary) : output_(std::move(output)), temporary_(std::move(temporary)) {}
  void flush(Stream& stream);
  /// Appends the whole of `from` (an anonymous bucket file) to the rule file.
  void append(Stream& from);

  std::string output_;
  std::string temporary_;
  std::array<Stream, kRuleBucketCount> streams_;
  /// The errno of the first failed write; 0 while all went well.
  int error_ = 0;
  bool finished_ = false;
};

}  // namespace fendrel
