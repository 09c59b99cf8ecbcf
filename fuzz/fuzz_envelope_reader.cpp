// Feeds arbitrary bytes to the crash reporter's envelope reader. It must never read outside the
// input, and whatever it accepts must write back to text that reads back to the same items.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"

namespace {

[[noreturn]] void fail(const char* what, std::size_t size) {
  std::fprintf(stderr, "fuzz_envelope_reader: %s for input of %zu bytes\n", what, size);
  std::abort();
}

// The reader logs every rejection; printing them would slow the run to a crawl.
struct SilentOutput : DozidiLogOutput {
  void log(const std::string&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool silenced = [] {
    DozidiLog::setLogOutput(std::make_shared<SilentOutput>());
    return true;
  }();
  (void)silenced;

  const std::string_view input(reinterpret_cast<const char*>(data), size);
  auto envelope = DozidiSerialization::envelopeWithData(input);
  if (!envelope) return 0;
  if (envelope->items().empty()) fail("an accepted envelope has no items", size);

  auto text = DozidiSerialization::dataWithEnvelope(*envelope, nullptr);
  if (!text) fail("an envelope that was read could not be written", size);
  auto again = DozidiSerialization::envelopeWithData(text->view());
  if (!again) fail("written text did not read back", size);
  if (again->items().size() != envelope->items().size()) fail("the item count changed", size);
  for (std::size_t i = 0; i < envelope->items().size(); ++i) {
    const auto& a = *envelope->items()[i];
    const auto& b = *again->items()[i];
    if (a.header().type != b.header().type || a.data() != b.data() || a.header().filename != b.header().filename ||
        a.header().contentType != b.header().contentType) {
      fail("an item changed on its way through the writer", size);
    }
  }
  return 0;
}
