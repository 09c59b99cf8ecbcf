#pragma once
#include <vector>

#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"

namespace fendrel {

/// The rules of one cached list file, each still the raw value the JSON reader gave.
struct RuleList {
  std::vector<foundation::Value> rules;
};

/// Reads and parses one cached list. An array gives its elements; an object gives its values in
/// document order; any other JSON value gives no rule. A file that cannot be read or is not JSON
/// also gives no rule: one damaged list must not stop the others from being compiled.
RuleList readRuleList(const foundation::URL& file);

/// Whether the cached list `file` can be read and parses as JSON (any JSON value: one that is not
/// an array or object simply holds no rule). A list file that cannot be read, is empty or holds
/// anything else (a damaged disk, a stray write) counts as not cached, so that it is downloaded
/// again instead of compiling as an empty list. The verdict is remembered per file until its
/// size or modification time changes; safe from any thread.
bool isReadableRuleList(const foundation::URL& file);

}  // namespace fendrel
