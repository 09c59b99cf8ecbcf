#pragma once
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/browser/ItemProvider.h"
#include "platform/foundation/Error.h"

namespace browser {

/// One item of an extension's answer (the platform's NSExtensionItem); a content blocker's item
/// carries its rule file as the only attachment and nothing else.
struct ExtensionItem {
  std::vector<std::shared_ptr<ItemProvider>> attachments;
};

/// The request the browser hands to an extension (the platform's NSExtensionContext). The
/// extension answers once, with items or with an error; a second answer is ignored, so the host
/// always reports the first. May be answered from any thread.
class ExtensionContext {
 public:
  void completeRequestReturningItems(std::vector<ExtensionItem> items);
  void cancelRequest(foundation::Error error);

  /// What the extension answered: nothing yet, its items, or its cancellation error.
  bool isAnswered() const;
  std::optional<std::vector<ExtensionItem>> returnedItems() const;
  std::optional<foundation::Error> cancellationError() const;

 private:
  mutable std::mutex mutex_;
  bool answered_ = false;
  std::optional<std::vector<ExtensionItem>> items_;
  std::optional<foundation::Error> error_;
};

/// The one entry point a plug-in exports. The extension host loads the plug-in, looks this symbol
/// up and calls it once on its own thread; the extension answers through the context before it
/// returns. Host and plug-in are built from the same sources by the same compiler, which is what
/// makes passing C++ types through this C entry point sound.
inline constexpr const char* kExtensionEntryPointSymbol = "BrowserExtensionBeginRequest";
using ExtensionEntryPoint = void (*)(ExtensionContext* context);

}  // namespace browser
