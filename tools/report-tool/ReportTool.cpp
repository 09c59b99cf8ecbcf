// fendrel-report: starts the crash reporter with a DSN, captures a number of messages or errors,
// optionally waits for their upload, and exits. Envelopes that could not be sent stay in the
// reporter's cache for the next process with the same DSN.
//
//   fendrel-report --dsn DSN [--messages N] [--errors N] [--flush SECONDS]
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/ShutdownWork.h"

namespace {

constexpr const char* kUsage = "usage: fendrel-report --dsn DSN [--messages N] [--errors N] [--flush SECONDS]\n";

std::optional<long> count(const char* text) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (!*text || *end || value < 0) return std::nullopt;
  return value;
}

std::optional<double> seconds(const char* text) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (!*text || *end || !(value >= 0)) return std::nullopt;
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dsn;
  long messages = 0;
  long errors = 0;
  std::optional<double> flush;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc) {
      std::fputs(kUsage, stderr);
      return 2;
    }
    const char* value = argv[++i];
    std::optional<long> number;
    if (arg == "--dsn") {
      dsn = value;
      continue;
    }
    if (arg == "--flush") {
      flush = seconds(value);
      if (!flush) {
        std::fprintf(stderr, "fendrel-report: not a number of seconds: %s\n", value);
        return 2;
      }
      continue;
    }
    if (arg != "--messages" && arg != "--errors") {
      std::fputs(kUsage, stderr);
      return 2;
    }
    number = count(value);
    if (!number) {
      std::fprintf(stderr, "fendrel-report: not a count: %s\n", value);
      return 2;
    }
    (arg == "--messages" ? messages : errors) = *number;
  }
  if (dsn.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  DozidiSDK::startWithOptions(foundation::Dictionary{{"dsn", dsn}});
  if (!DozidiSDK::isEnabled()) {
    std::fprintf(stderr, "fendrel-report: the reporter did not start with DSN %s\n", dsn.c_str());
    return 1;
  }
  for (long i = 0; i < messages; ++i) DozidiSDK::captureMessage("message " + std::to_string(i + 1));
  for (long i = 0; i < errors; ++i) DozidiSDK::captureError(foundation::Error("fendrel-report", i + 1));
  if (flush) DozidiSDK::flush(*flush);
  // Upload threads may still run: end without tearing down what they use.
  foundation::ShutdownWork::exitProcess(0);
}
