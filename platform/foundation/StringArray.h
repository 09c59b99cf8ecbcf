#pragma once
#include <string>

#include "platform/foundation/Value.h"

namespace foundation {

/// An array of string values, in the collection's order, from any collection of strings (a
/// vector, a set).
template <typename Strings>
Array arrayOfStrings(const Strings& strings) {
  Array array;
  array.reserve(strings.size());
  for (const std::string& text : strings) array.push_back(Value(text));
  return array;
}

}  // namespace foundation
