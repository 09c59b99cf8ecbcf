#pragma once
#include <cstdint>
#include <optional>

namespace json {

/// The kind of value a JSON holds. The raw value is the case number.
enum class Type : std::int64_t {
  Number = 0,
  String = 1,
  Bool = 2,
  Array = 3,
  Dictionary = 4,
  Null = 5,
  Unknown = 6,  ///< a value of a kind JSON cannot hold; reads as null
};

/// The case for 0 to 6, none for anything else.
constexpr std::optional<Type> typeFromRawValue(std::int64_t rawValue) {
  if (rawValue < 0 || rawValue > 6) return std::nullopt;
  return static_cast<Type>(rawValue);
}

}  // namespace json
