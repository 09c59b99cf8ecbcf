#include "platform/uikit/StackView.h"

#include <algorithm>

namespace uikit {

void UIStackView::addArrangedSubview(const std::shared_ptr<UIView>& view) {
  if (std::find(arranged_.begin(), arranged_.end(), view) == arranged_.end()) arranged_.push_back(view);
  if (view->superviewPointer() != this) addSubview(view);
}

void UIStackView::removeArrangedSubview(const UIView* view) {
  arranged_.erase(std::remove_if(arranged_.begin(), arranged_.end(), [&](auto& v) { return v.get() == view; }),
                  arranged_.end());
}

}  // namespace uikit
