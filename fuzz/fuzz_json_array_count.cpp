// Counts the elements of arbitrary bytes taken as a JSON array and compares with nlohmann-json,
// which parses completely: the two must agree on whether the text is one JSON array, and on its
// size. The input is copied into an allocation of exactly its size, so that a read past its end
// shows under the address sanitizer.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/foundation/JSONArrayCount.h"
#include "platform/foundation/JSONSerialization.h"

namespace {

/// The deepest nesting of containers in a text nlohmann-json accepted.
std::size_t nesting(std::string_view text) {
  std::size_t depth = 0, deepest = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

/// What the count should be; none when the text is not an array. False when nlohmann-json
/// cannot judge: it refuses numbers beyond the range of a double, whose form is valid JSON.
bool expectedCount(std::string_view text, std::optional<std::size_t>& count) {
  count.reset();
  // nlohmann-json skips a byte order mark, which the app's JSON reader does not, and ends the
  // text at a NUL byte, which JSON allows nowhere.
  if (text.starts_with("\xEF\xBB\xBF") || text.find('\0') != std::string_view::npos) return true;
  nlohmann::json value;
  try {
    value = nlohmann::json::parse(text);
  } catch (const nlohmann::json::parse_error&) {
    return true;
  } catch (const nlohmann::json::out_of_range&) {
    return false;
  }
  if (value.is_array() && nesting(text) <= foundation::JSONSerialization::kMaxDepth) count = value.size();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto exact = std::make_unique<char[]>(size);
  if (size > 0) std::memcpy(exact.get(), data, size);
  const std::string_view text(exact.get(), size);
  const auto counted = foundation::countJSONArrayElements(text);
  std::optional<std::size_t> expected;
  if (!expectedCount(text, expected)) return 0;
  if (counted != expected) {
    std::fprintf(stderr, "fuzz_json_array_count: counted %lld, expected %lld, for %zu bytes\n",
                 counted ? static_cast<long long>(*counted) : -1LL,
                 expected ? static_cast<long long>(*expected) : -1LL, size);
    std::abort();
  }
  return 0;
}
