#include "platform/foundation/JSONArrayCount.h"

#include <simdjson.h>

namespace foundation {

std::optional<std::size_t> countJSONArrayElements(std::string_view text) {
  // The on-demand parser finds the structure in one vectorised pass and then walks only the
  // array's top level; it needs its input padded.
  simdjson::padded_string padded(text);
  simdjson::ondemand::parser parser;
  simdjson::ondemand::document document;
  if (parser.iterate(padded).get(document) != simdjson::SUCCESS) return std::nullopt;
  simdjson::ondemand::array array;
  if (document.get_array().get(array) != simdjson::SUCCESS) return std::nullopt;
  std::size_t count = 0;
  // An element left unread is skipped by its brackets alone.
  for (auto element : array) {
    if (element.error() != simdjson::SUCCESS) return std::nullopt;
    ++count;
  }
  // Past the array there is no location left unless something follows it.
  const char* after = nullptr;
  if (document.current_location().get(after) == simdjson::SUCCESS) return std::nullopt;
  return count;
}

}  // namespace foundation
