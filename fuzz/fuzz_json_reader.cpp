// Feeds arbitrary bytes to the JSON reader, with and without fragments allowed. Whatever it
// accepts must write back, and the written text must read back to an equal value.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/foundation/JSONSerialization.h"

namespace {

using foundation::JSONReadingOptions;
using foundation::JSONSerialization;
using foundation::JSONWritingOptions;

[[noreturn]] void fail(const char* what, std::string_view input) {
  std::fprintf(stderr, "fuzz_json_reader: %s for input of %zu bytes\n", what, input.size());
  std::abort();
}

void roundTrip(std::string_view input, JSONReadingOptions reading, JSONWritingOptions writing) {
  auto value = JSONSerialization::JSONObjectWithData(input, reading);
  if (!value) {
    if (!value.error().is(foundation::kCocoaErrorDomain, 3840)) fail("unexpected read error", input);
    return;
  }
  auto text = JSONSerialization::dataWithJSONObject(*value, writing);
  if (!text) fail("a value that was read could not be written", input);
  auto again = JSONSerialization::JSONObjectWithData(*text, reading);
  if (!again) fail("the written text could not be read back", input);
  if (!(*again == *value)) fail("the written text read back to a different value", input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  roundTrip(input, JSONReadingOptions::None, JSONWritingOptions::None);
  roundTrip(input, JSONReadingOptions::FragmentsAllowed,
            JSONWritingOptions::FragmentsAllowed | JSONWritingOptions::PrettyPrinted |
                JSONWritingOptions::SortedKeys);
  return 0;
}
