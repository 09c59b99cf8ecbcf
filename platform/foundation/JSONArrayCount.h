#pragma once
#include <cstddef>
#include <optional>
#include <string_view>

namespace foundation {

/// The number of elements of the JSON array that `text` holds, found without building any value.
/// None when the text is not one valid JSON array (another value, malformed, or anything but
/// whitespace after it). Safe from any thread.
std::optional<std::size_t> countJSONArrayElements(std::string_view text);

}  // namespace foundation
