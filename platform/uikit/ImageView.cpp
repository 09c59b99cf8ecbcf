#include "platform/uikit/ImageView.h"

namespace uikit {

void UIImageView::setImage(std::shared_ptr<UIImage> image) {
  image_ = std::move(image);
  invalidateIntrinsicContentSize();
}

CGSize UIImageView::intrinsicContentSize() const {
  if (!image_) return {UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric};
  return image_->size();
}

CGSize UIImageView::sizeThatFits(CGSize) const { return image_ ? image_->size() : CGSize{}; }

}  // namespace uikit
