// Feeds arbitrary bytes to the crash report fixer. A fixed report must decode, and fixing it
// again must give the same text.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashReportFixer.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashJSONCodec.h"

namespace {

[[noreturn]] void fail(const char* what, std::size_t size) {
  std::fprintf(stderr, "fuzz_crash_fixer: %s for input of %zu bytes\n", what, size);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto fixed = dozidicrashcrf_fixupCrashReport(input);
  if (!fixed) return 0;
  const auto again = dozidicrashcrf_fixupCrashReport(*fixed);
  if (!again) fail("a fixed report cannot be fixed again", size);
  if (*again != *fixed) fail("fixing a fixed report changes it", size);
  return 0;
}
