#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

namespace foundation {

enum class JSONReadingOptions : unsigned {
  None = 0,
  MutableContainers = 1 << 0,  ///< accepted for compatibility; every container is a mutable value
  MutableLeaves = 1 << 1,      ///< accepted for compatibility
  FragmentsAllowed = 1 << 2,   ///< a scalar may stand at the top level
};

enum class JSONWritingOptions : unsigned {
  None = 0,
  PrettyPrinted = 1 << 0,
  SortedKeys = 1 << 1,
  FragmentsAllowed = 1 << 2,
  WithoutEscapingSlashes = 1 << 3,
};

constexpr JSONReadingOptions operator|(JSONReadingOptions a, JSONReadingOptions b) {
  return static_cast<JSONReadingOptions>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr JSONWritingOptions operator|(JSONWritingOptions a, JSONWritingOptions b) {
  return static_cast<JSONWritingOptions>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr bool hasOption(JSONReadingOptions set, JSONReadingOptions o) {
  return (static_cast<unsigned>(set) & static_cast<unsigned>(o)) != 0;
}
constexpr bool hasOption(JSONWritingOptions set, JSONWritingOptions o) {
  return (static_cast<unsigned>(set) & static_cast<unsigned>(o)) != 0;
}

/// JSON text to dynamic values and back.
///
/// Reading: UTF-8 (a leading BOM is skipped); without FragmentsAllowed only an array or an object
/// may stand at the top; integers keep their kind (signed, else unsigned, else double when they
/// fit neither), `true`/`false` are bool numbers, duplicate keys keep the last value, dictionaries
/// keep document order; nesting deeper than kMaxDepth is an error. Every failure is an Error in
/// the Cocoa domain with code 3840 whose description names the reason.
///
/// Writing: compact unless PrettyPrinted; strings escaped (quote, backslash, control characters;
/// "/" as "\/" unless WithoutEscapingSlashes); integers exactly, doubles in the shortest text
/// that reads back the same. Values JSON cannot hold (NaN, infinity, data, dates, URLs, errors,
/// opaque objects, absent values), strings that are not UTF-8 and nesting deeper than kMaxDepth
/// give an Error with code 3851, never a crash. Pretty printing indents by two spaces and writes
/// members as `"key" : value`.
class JSONSerialization {
 public:
  static constexpr std::size_t kMaxDepth = 512;

  static Result<Value> JSONObjectWithData(std::string_view bytes,
                                          JSONReadingOptions options = JSONReadingOptions::None);
  /// True when `value` can be written without FragmentsAllowed: an array or dictionary at the top,
  /// holding only null, finite numbers, UTF-8 strings, arrays and dictionaries, nested no deeper
  /// than kMaxDepth.
  static bool isValidJSONObject(const Value& value);
  static Result<std::string> dataWithJSONObject(const Value& value,
                                                JSONWritingOptions options = JSONWritingOptions::None);

  /// Appends `text` as a JSON string, escaped exactly as dataWithJSONObject escapes strings under
  /// `options`, so that a document written piece by piece reads the same as one written whole.
  /// False, with `out` unchanged, when `text` is not UTF-8.
  static bool appendString(std::string& out, std::string_view text,
                           JSONWritingOptions options = JSONWritingOptions::None);
  /// Appends `number` in the form dataWithJSONObject gives it. False, with `out` unchanged, for a
  /// floating value that is not finite.
  static bool appendNumber(std::string& out, const Number& number);
};

}  // namespace foundation
