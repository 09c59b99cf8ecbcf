#pragma once
#include <cstdint>
#include <map>

#include "platform/foundation/Value.h"

namespace json {

/// Keys of the option map of JSON::rawString(options). A value of another kind than the one
/// named here is ignored as if the key were missing.
enum class writingOptionsKeys {
  JSONSerialization,  ///< foundation::JSONWritingOptions bits as an integer [default: pretty printed]
  CastNilToNSNull,    ///< bool: write lists and maps with the module's own writer [default: false]
  MaxObjextDepth,     ///< integer: the nesting limit [default: 10]
  Encoding,           ///< StringEncoding as an integer, for the platform writer's bytes [default: UTF-8]
};

/// Text encodings that bytes from the platform writer can be decoded with. The raw values are
/// the platform's encoding numbers.
enum class StringEncoding : std::uint64_t {
  ASCII = 1,
  UTF8 = 4,
  ISOLatin1 = 5,
};

using WritingOptionsMap = std::map<writingOptionsKeys, foundation::Value>;

/// The value to store under writingOptionsKeys::Encoding.
inline foundation::Value encodingOption(StringEncoding encoding) {
  return foundation::Value(static_cast<std::uint64_t>(encoding));
}

}  // namespace json
