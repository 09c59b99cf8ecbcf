#include "platform/browser/ExtensionContext.h"

namespace browser {

void ExtensionContext::completeRequestReturningItems(std::vector<ExtensionItem> items) {
  std::lock_guard lock(mutex_);
  if (answered_) return;
  answered_ = true;
  items_ = std::move(items);
}

void ExtensionContext::cancelRequest(foundation::Error error) {
  std::lock_guard lock(mutex_);
  if (answered_) return;
  answered_ = true;
  error_ = std::move(error);
}

bool ExtensionContext::isAnswered() const {
  std::lock_guard lock(mutex_);
  return answered_;
}

std::optional<std::vector<ExtensionItem>> ExtensionContext::returnedItems() const {
  std::lock_guard lock(mutex_);
  return items_;
}

std::optional<foundation::Error> ExtensionContext::cancellationError() const {
  std::lock_guard lock(mutex_);
  return error_;
}

}  // namespace browser
