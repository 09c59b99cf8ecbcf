#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Data.h"

namespace foundation {

/// Base64 text of `bytes`: the standard alphabet ("+", "/"), "=" padding, no line breaks.
std::string base64EncodedString(std::string_view bytes);
inline std::string base64EncodedString(const Data& data) { return base64EncodedString(data.view()); }

/// The bytes of Base64 text in the form base64EncodedString writes. Whitespace, line breaks, other
/// alphabets, missing or misplaced padding give none.
std::optional<Data> base64DecodedData(std::string_view text);

}  // namespace foundation
