#include "platform/foundation/JSONArrayCount.h"

#include <simdjson.h>

namespace foundation {

std::optional<std::size_t> countJSONArrayElements(std::string_view text) {
  // The document parser validates the text in two vectorised passes and records each array's
  // element count on its tape, so no value is built. One parser per thread keeps its buffers
  // between calls.
  thread_local simdjson::dom::parser parser;
  simdjson::dom::array array;
  if (parser.parse(text.data(), text.size(), true).get_array().get(array) != simdjson::SUCCESS) return std::nullopt;
  // The tape's count saturates at 0xFFFFFF; past that the elements are counted one by one.
  constexpr std::size_t kSaturated = 0xFFFFFF;
  if (array.size() < kSaturated) return array.size();
  std::size_t count = 0;
  for ([[maybe_unused]] simdjson::dom::element element : array) ++count;
  return count;
}

}  // namespace foundation
