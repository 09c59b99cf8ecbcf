// Feeds arbitrary bytes to the crash report fixer. A fixed report must fix again, and the text
// must settle.

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
  // Only containers are reports; a top-level scalar re-encodes as a bare number or string.
  if (!fixed || fixed->empty() || (fixed->front() != '{' && fixed->front() != '[')) return 0;
  const auto again = dozidicrashcrf_fixupCrashReport(*fixed);
  if (!again) fail("a fixed report cannot be fixed again", size);
  // Floats print with six digits, so a whole float timestamp reads back as an integer and is
  // turned into a date by the second pass; from then on the text must stay the same.
  const auto third = dozidicrashcrf_fixupCrashReport(*again);
  if (!third || *third != *again) fail("fixing does not settle after two passes", size);
  return 0;
}
