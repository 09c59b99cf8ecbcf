// Feeds arbitrary bytes to the binary property-list reader (it reads settings files that other
// processes write). A failure must be the corrupt-file error; whatever it accepts must write
// back, and the written bytes must read back and write again to the very same bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/foundation/Error.h"
#include "platform/foundation/PropertyListSerialization.h"

namespace {

using foundation::PropertyListSerialization;

[[noreturn]] void fail(const char* what, std::string_view input) {
  std::fprintf(stderr, "fuzz_property_list_reader: %s for input of %zu bytes\n", what, input.size());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  auto value = PropertyListSerialization::propertyListWithData(input);
  if (!value) {
    if (!value.error().is(foundation::kCocoaErrorDomain, 3840)) fail("unexpected read error", input);
    return 0;
  }
  auto written = PropertyListSerialization::dataFromPropertyList(*value);
  if (!written) fail("a value that was read could not be written", input);
  // Compared as bytes rather than values: NaN never equals itself, and bytes also show that
  // every kind survived.
  auto again = PropertyListSerialization::propertyListWithData(*written);
  if (!again) fail("the written bytes could not be read back", input);
  auto rewritten = PropertyListSerialization::dataFromPropertyList(*again);
  if (!rewritten || rewritten->view() != written->view()) fail("the written bytes read back to a different value", input);
  return 0;
}
