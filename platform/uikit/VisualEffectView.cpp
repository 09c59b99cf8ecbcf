#include "platform/uikit/VisualEffectView.h"

namespace uikit {

UIVisualEffectView::UIVisualEffectView(std::optional<UIBlurEffectStyle> e) : effect(e) {
  content_ = std::make_shared<UIView>();
}

void UIVisualEffectView::layoutSubviews() {
  if (content_->superviewPointer() != this) insertSubview(content_, 0);
  content_->setFrame(bounds());
  UIView::layoutSubviews();
}

}  // namespace uikit
