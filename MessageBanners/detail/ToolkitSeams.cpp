#include "MessageBanners/detail/ToolkitSeams.h"

#include "MessageBanners/PresentationContextSelection.h"

namespace MessageBanners::detail {

std::shared_ptr<uikit::UIWindowScene> keyWindowScene() {
  auto key = mb_keyWindow();
  return key ? key->windowScene() : nullptr;
}

}  // namespace MessageBanners::detail
