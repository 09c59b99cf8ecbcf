// A content-blocker plug-in for the browser's own tests: it answers every request with the file
// "rules.json" of its bundle, whatever that holds, so a test decides the rule file the browser gets.

#include <cstdlib>
#include <string>

#include "platform/browser/ExtensionContext.h"
#include "platform/foundation/URL.h"

extern "C" __attribute__((visibility("default"))) void BrowserExtensionBeginRequest(
    browser::ExtensionContext* context) {
  const char* bundle = std::getenv("FENDREL_MAIN_BUNDLE");
  auto provider = browser::ItemProvider::fromContentsOfURL(
      foundation::URL::fileURL(std::string(bundle ? bundle : "") + "/rules.json"));
  if (!provider) {
    context->cancelRequest(foundation::Error::withDescription("RuleFilePlugin", 1, "no rules.json in the bundle"));
    return;
  }
  context->completeRequestReturningItems({browser::ExtensionItem{{provider}}});
}
