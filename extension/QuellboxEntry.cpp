// The exported face of libQuellbox.so: the one entry point the browser's extension host calls.

#include <type_traits>

#include "extension/ActionRequestHandler.h"
#include "platform/browser/ExtensionContext.h"

/// Called by the extension host once per request, on its own thread.
extern "C" __attribute__((visibility("default"))) void BrowserExtensionBeginRequest(
    browser::ExtensionContext* context) {
  if (!context) return;
  quellbox::ActionRequestHandler().beginRequest(*context);
}

static_assert(std::is_same_v<decltype(&BrowserExtensionBeginRequest), browser::ExtensionEntryPoint>,
              "the entry point must match the type the extension host calls");
