#include "MessageBanners/detail/ToolkitSeams.h"

#include "platform/uikit/View.h"

namespace MessageBanners::detail {

foundation::Value boxRect(const uikit::CGRect& rect) {
  return foundation::Value(foundation::Opaque{std::make_shared<const uikit::CGRect>(rect), "NSValue"});
}

std::optional<uikit::CGRect> unboxRect(const foundation::Value& value) {
  const auto* opaque = value.opaque();
  if (!opaque || opaque->typeName != "NSValue" || !opaque->object) return std::nullopt;
  return *static_cast<const uikit::CGRect*>(opaque->object.get());
}

void TapRecognizer::addTo(uikit::UIView& view) {
  view_ = view.weak_from_this();
  viewRaw_ = &view;
}

void TapRecognizer::removeFrom(const uikit::UIView& view) {
  if (viewRaw_ != &view) return;
  view_.reset();
  viewRaw_ = nullptr;
}

void TapRecognizer::recognize() {
  if (view() && action_) action_();
}

}  // namespace MessageBanners::detail

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
