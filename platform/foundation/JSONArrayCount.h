#pragma once
#include <cstddef>
#include <optional>
#include <string_view>

namespace foundation {

/// The number of elements of the JSON array that `text` holds, found without building any value:
/// one pass over the text's structure, skipping each element's contents. None when the text is not
/// one JSON array (another value, malformed, or anything but whitespace after it). Only the
/// array's own structure is checked; a caller that needs the elements valid parses them.
/// Safe from any thread.
std::optional<std::size_t> countJSONArrayElements(std::string_view text);

}  // namespace foundation
