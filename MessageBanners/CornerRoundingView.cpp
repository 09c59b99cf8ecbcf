#include "MessageBanners/CornerRoundingView.h"

#include "MessageBanners/BaseView.h"
#include "platform/uikit/Animation.h"

namespace MessageBanners {

std::shared_ptr<CornerRoundingView> CornerRoundingView::create(const uikit::CGRect& frame) {
  auto view = std::shared_ptr<CornerRoundingView>(new CornerRoundingView());
  view->initCornerRoundingView(frame);
  return view;
}

void CornerRoundingView::initCornerRoundingView(const uikit::CGRect& frame) {
  setFrame(frame);
  layer()->setMask(shapeLayer_);
}

void CornerRoundingView::setCornerRadius(uikit::CGFloat radius) {
  cornerRadius_ = radius;
  refreshMaskPath();
}

void CornerRoundingView::setRoundedCorners(unsigned corners) {
  roundedCorners_ = corners;
  refreshMaskPath();
}

void CornerRoundingView::refreshMaskPath() {
  auto path = uikit::UIBezierPath::roundedRect(layer()->bounds(), roundedCorners_, {cornerRadius_, cornerRadius_});
  if (auto resize = runningBasicAnimation(*layer(), "bounds.size")) {
    auto animation = uikit::CABasicAnimation::create("path");
    animation->duration = resize->duration;
    animation->timingFunction = resize->timingFunction;
    animation->fromValue = shapeLayer_->path() ? uikit::AnimationValue(*shapeLayer_->path()) : uikit::AnimationValue();
    animation->toValue = path;
    shapeLayer_->addAnimation(animation, "path");
  }
  shapeLayer_->setPath(path);
}

void CornerRoundingView::layoutSubviews() {
  UIView::layoutSubviews();
  refreshMaskPath();
}

}  // namespace MessageBanners
