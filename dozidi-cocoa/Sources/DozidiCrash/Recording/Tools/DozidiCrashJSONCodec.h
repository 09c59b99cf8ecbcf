#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

/// Converts between JSON text and dynamic values with the recorder's own encoder and decoder, for
/// the recorder facade and the report reader (next-launch code, not for the crash path).
/// Errors are in the domain "DozidiCrashJSONCodecObjC" with code 0.
class DozidiCrashJSONCodec {
 public:
  /// Encode options.
  static constexpr int kPrettyPrint = 0x1;
  static constexpr int kSorted = 0x2;
  /// Decode options.
  static constexpr int kIgnoreNullsInArrays = 0x1;
  static constexpr int kIgnoreNullsInObjects = 0x2;
  static constexpr int kKeepPartialResult = 0x4;

  static constexpr const char* kErrorDomain = "DozidiCrashJSONCodecObjC";

  /// Strings, numbers (bools as booleans, floating kinds as floats), arrays, dictionaries, null,
  /// dates (UTC text to the second) and data (hex text). Any other value fails; `error`, when
  /// given, receives the failure.
  static std::optional<std::string> encode(const foundation::Value& object, int options,
                                           foundation::Error* error = nullptr);

  /// The top-level array or dictionary of `data`; absent on failure (a top-level scalar is a
  /// failure), unless kKeepPartialResult is set, which gives the containers built so far.
  static foundation::Value decode(std::string_view data, int options, foundation::Error* error = nullptr);
};
