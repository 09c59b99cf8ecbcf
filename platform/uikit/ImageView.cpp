#include "platform/uikit/ImageView.h"

#include <algorithm>
#include <cmath>

#include "platform/dispatch/Clock.h"

RUNTIME_CLASS(uikit::UIImageView, uikit::UIView, "UIImageView");

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

namespace uikit {

double UIImageView::cycleDuration() const {
  if (animationDuration > 0) return animationDuration;
  return static_cast<double>(animationImages.size()) / 30.0;
}

void UIImageView::startAnimating() {
  if (animationImages.empty()) return;
  animationStart_ = dispatch::Clock::current().uptime();
}

void UIImageView::stopAnimating() { animationStart_.reset(); }

bool UIImageView::isAnimating() const {
  if (!animationStart_ || animationImages.empty()) return false;
  if (animationRepeatCount <= 0) return true;
  double elapsed = dispatch::Clock::current().uptime() - *animationStart_;
  return elapsed < cycleDuration() * animationRepeatCount;
}

std::shared_ptr<UIImage> UIImageView::displayedImage() const {
  return displayedImageAt(dispatch::Clock::current().uptime());
}

std::shared_ptr<UIImage> UIImageView::displayedImageAt(double time) const {
  if (!animationStart_ || animationImages.empty()) return image_;
  double cycle = cycleDuration();
  double elapsed = std::max(0.0, time - *animationStart_);
  if (animationRepeatCount > 0 && elapsed >= cycle * animationRepeatCount) return image_;
  // A hair of tolerance keeps a frame boundary reached exactly on the clock in the next frame.
  double phase = cycle > 0 ? std::fmod(elapsed + 1e-9, cycle) / cycle : 0;
  auto count = animationImages.size();
  auto index = std::min(count - 1, static_cast<std::size_t>(phase * static_cast<double>(count)));
  return animationImages[index];
}

}  // namespace uikit
