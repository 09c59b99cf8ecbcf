// A content-blocker plug-in for the extension host's crash tests: with FENDREL_TEST_PLUGIN_CRASH
// set to "1" its request dereferences a null pointer, as a faulty rule compiler would; otherwise
// it cancels the request, so that the host answers and ends normally.

#include <cstdlib>
#include <string>

#include "platform/browser/ExtensionContext.h"

namespace {

// Not inlined: the crashed thread's innermost frame is this function, below the entry point.
__attribute__((noinline)) int readThroughNull(volatile int* pointer) { return *pointer; }

}  // namespace

extern "C" __attribute__((visibility("default"))) void BrowserExtensionBeginRequest(
    browser::ExtensionContext* context) {
  const char* crash = std::getenv("FENDREL_TEST_PLUGIN_CRASH");
  if (crash != nullptr && std::string(crash) == "1") {
    volatile int* nowhere = nullptr;
    context->cancelRequest(foundation::Error::withDescription("CrashingPlugIn", readThroughNull(nowhere), "unreachable"));
    return;
  }
  context->cancelRequest(foundation::Error::withDescription("CrashingPlugIn", 1, "no rules today"));
}
