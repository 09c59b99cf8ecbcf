#include "extension/ActionRequestHandler.h"

#include <memory>
#include <optional>

#include "platform/browser/ExtensionContext.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"

namespace quellbox {

namespace {

constexpr const char* kAppGroup = "group.com.morvit.Fendrel";
constexpr const char* kSharedRuleFile = "output.json";

/// Completes the request with one item holding only `provider`.
void answer(browser::ExtensionContext& context, std::shared_ptr<browser::ItemProvider> provider) {
  browser::ExtensionItem item;
  item.attachments.push_back(std::move(provider));
  context.completeRequestReturningItems({std::move(item)});
}

/// Answers with the bundle's resource `name`.json; without it the request is cancelled, since an
/// answer without rules would leave the browser with nothing to load and no reason why.
void answerWithResource(browser::ExtensionContext& context, const char* name) {
  std::optional<foundation::URL> url = foundation::Bundle::main()->url(name, "json");
  std::shared_ptr<browser::ItemProvider> provider = url ? browser::ItemProvider::fromContentsOfURL(*url) : nullptr;
  if (!provider) {
    context.cancelRequest(foundation::Error::withDescription(
        kQuellboxErrorDomain, kQuellboxNoRuleFileCode,
        std::string("cannot answer the request: neither output.json in the shared container nor ") + name +
            ".json in the extension's bundle can be read"));
    return;
  }
  answer(context, std::move(provider));
}

}  // namespace

void ActionRequestHandler::beginRequest(browser::ExtensionContext& context) const {
  std::optional<foundation::URL> container = foundation::FileManager::defaultManager().containerURL(kAppGroup);
  if (!container) return answerWithResource(context, "fallback");
  auto provider = browser::ItemProvider::fromContentsOfURL(container->appendingPathComponent(kSharedRuleFile));
  if (!provider) return answerWithResource(context, "fallback");
  answer(context, std::move(provider));
}

}  // namespace quellbox

