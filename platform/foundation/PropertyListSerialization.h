#pragma once
#include <string_view>

#include "platform/foundation/Data.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

namespace foundation {

/// Formats of property-list data; only the binary one (version 1.0, "bplist00") is written and read.
enum class PropertyListFormat : int { Binary = 200 };

/// Binary property lists to dynamic values and back.
///
/// A property list holds dictionaries (string keys), arrays, strings, numbers, dates and data.
/// Kinds survive a round trip: a bool stays a bool, a signed integer stays signed, an unsigned
/// one stays unsigned (kept in the 128-bit integer form), a float stays a float and a double a
/// double. A decimal number is written as a double.
class PropertyListSerialization {
 public:
  /// Nesting deeper than this is refused on writing and reading.
  static constexpr std::size_t kMaxDepth = 512;

  /// The binary property list of `value`. Fails with Cocoa 3851 when `value` or anything inside it
  /// is absent, null, a URL, an error or an opaque object, or holds a string that is not UTF-8;
  /// the description names where.
  static Result<Data> dataFromPropertyList(const Value& value,
                                           PropertyListFormat format = PropertyListFormat::Binary);
  /// The value of binary property-list bytes. Anything that is not a well-formed binary property
  /// list (garbage, truncated, offsets out of range, cycles, a non-string key) fails with Cocoa
  /// 3840, never a crash. Objects referenced from several places are decoded once and shared.
  static Result<Value> propertyListWithData(std::string_view bytes);
  static Result<Value> propertyListWithData(const Data& data) { return propertyListWithData(data.view()); }
  /// True when dataFromPropertyList would accept `value`.
  static bool propertyListIsValid(const Value& value);
};

}  // namespace foundation
