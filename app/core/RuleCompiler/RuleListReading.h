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

}  // namespace fendrel
