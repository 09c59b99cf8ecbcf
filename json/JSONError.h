#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/ValueFwd.h"

namespace json {

/// Why a JSON lookup, merge or serialisation failed. The raw value is the error code; the codes
/// are fixed and shared with stored and reported errors, so they are not in ascending order.
enum class JSONError : std::int64_t {
  // A value of a kind JSON cannot hold (a date, an arbitrary object).
  UnsupportedType = 999,
  // Lookups by index or key, and merging.
  IndexOutOfBounds = 900,
  ElementTooDeep = 902,
  WrongType = 901,  ///< carries the merge text also when a lookup met the wrong kind of value
  NotExist = 500,
  // Serialisation.
  InvalidJSON = 490,
};

/// The one error domain of every JSONError.
inline constexpr const char* kJSONErrorDomain = "com.morvit.json.JSONError";

/// The case of a code, none for any other integer.
std::optional<JSONError> jsonErrorFromRawValue(std::int64_t rawValue);
constexpr std::int64_t rawValue(JSONError error) { return static_cast<std::int64_t>(error); }
constexpr std::int64_t errorCode(JSONError error) { return rawValue(error); }
/// The fixed description of the case ("Dictionary key does not exist.", ...).
std::string localizedDescription(JSONError error);
/// Exactly one entry: the localised-description key with the description of the case.
foundation::Dictionary errorUserInfo(JSONError error);
/// The platform error value: kJSONErrorDomain, the code and errorUserInfo.
foundation::Error toError(JSONError error);

}  // namespace json
