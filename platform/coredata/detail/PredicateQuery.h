#pragma once
// Turns predicates into SQL over the store's JSON attribute column, and evaluates them in memory
// where SQL cannot express them.
#include <optional>
#include <string>
#include <vector>

#include "platform/coredata/NSPredicate.h"
#include "platform/foundation/Value.h"

namespace coredata::detail {

/// A WHERE condition with its `?` parameters in order.
struct SQLCondition {
  std::string text;
  std::vector<foundation::Value> bindings;
};

/// The JSON path of a plain attribute name ('$."name"'); none for a key that is not a plain name
/// (letters, digits and "_", not starting with a digit): such keys are evaluated in memory.
std::optional<std::string> jsonPathForKey(const std::string& key);

/// The predicate as a condition on `attributesColumn` (a JSON object), in two-valued logic (a
/// missing attribute makes a comparison false, never unknown); none when any part of it has no
/// SQL form (MATCHES, LIKE, conditionals, key paths through relationships, constants that are not
/// numbers, strings or null).
std::optional<SQLCondition> sqlCondition(const NSPredicate& predicate, const std::string& attributesColumn);

/// Whether an object with these attributes satisfies the predicate.
bool evaluatePredicate(const NSPredicate& predicate, const foundation::Dictionary& attributes);

/// Orders two attribute values as the store does: absent and null first, then numbers (true
/// counting as 1), then strings by bytes, then anything else (equal among themselves).
int compareForSorting(const foundation::Value& a, const foundation::Value& b);

/// The value at a key path ("name", "address.city") of an object's attributes.
foundation::Value valueForKeyPath(const foundation::Dictionary& attributes, const std::string& keyPath);

}  // namespace coredata::detail
