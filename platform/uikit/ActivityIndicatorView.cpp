#include "platform/uikit/ActivityIndicatorView.h"

#include <cmath>

#include "platform/uikit/Animation.h"
#include "platform/uikit/Layer.h"

namespace uikit {

UIActivityIndicatorView::UIActivityIndicatorView(UIActivityIndicatorViewStyle s) : style(s) {
  setHidden(true);
  setUserInteractionEnabled(false);
}

void UIActivityIndicatorView::startAnimating() {
  setHidden(false);
  if (animating_) return;
  animating_ = true;
  auto spin = CABasicAnimation::create("transform.rotation.z");
  spin->fromValue = 0.0;
  spin->toValue = 2 * M_PI;
  spin->duration = 1;
  spin->repeatCount = kRepeatForever;
  spin->timingFunction = CAMediaTimingFunction(CAMediaTimingFunction::Name::Linear);
  layer()->addAnimation(spin, kSpinAnimationKey);
}

void UIActivityIndicatorView::stopAnimating() {
  animating_ = false;
  layer()->removeAnimation(kSpinAnimationKey);
  if (hidesWhenStopped) setHidden(true);
}

CGSize UIActivityIndicatorView::intrinsicContentSize() const {
  bool large = style == UIActivityIndicatorViewStyle::Large || style == UIActivityIndicatorViewStyle::WhiteLarge;
  return large ? CGSize{37, 37} : CGSize{20, 20};
}

}  // namespace uikit
