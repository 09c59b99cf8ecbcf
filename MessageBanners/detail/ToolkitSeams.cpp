#include "MessageBanners/detail/ToolkitSeams.h"

namespace MessageBanners::detail {
namespace {
std::function<std::shared_ptr<uikit::UIWindowScene>()>& lookupSlot() {
  static std::function<std::shared_ptr<uikit::UIWindowScene>()> slot;
  return slot;
}
}  // namespace

std::shared_ptr<uikit::UIWindowScene> keyWindowScene() {
  auto& lookup = lookupSlot();
  return lookup ? lookup() : nullptr;
}

void setKeyWindowSceneLookup(std::function<std::shared_ptr<uikit::UIWindowScene>()> lookup) {
  lookupSlot() = std::move(lookup);
}

}  // namespace MessageBanners::detail
