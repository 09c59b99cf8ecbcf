#pragma once
#include <cstddef>
#include <optional>
#include <string_view>

namespace foundation {

/// The number of elements of the JSON array that `text` holds, found without building any value.
/// None when the text is not one valid JSON array (another value, malformed, nested deeper than
/// the JSON reader allows, or anything but whitespace after it). Numbers are checked for their
/// form, not their range. The text needs no padding after its end. Safe from any thread.
std::optional<std::size_t> countJSONArrayElements(std::string_view text);

}  // namespace foundation
