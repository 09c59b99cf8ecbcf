#include "MessageBanners/MaskingView.h"

#include "MessageBanners/BaseView.h"
#include "MessageBanners/KeyboardTrackingView.h"

namespace MessageBanners {

std::shared_ptr<MaskingView> MaskingView::create() {
  auto view = std::shared_ptr<MaskingView>(new MaskingView());
  view->registerTapAction();
  view->setClipsToBounds(true);
  view->registerTapAction();
  return view;
}

void MaskingView::installKeyboardTracking(const std::shared_ptr<KeyboardTrackingView>& trackingView) {
  keyboardTrackingView_ = trackingView;
  trackingView->setTranslatesAutoresizingMaskIntoConstraints(false);
  addSubview(trackingView);
  uikit::NSLayoutConstraint::activateConstraints({
      trackingView->bottomAnchor().constraintEqualTo(bottomAnchor()),
      trackingView->leadingAnchor().constraintEqualTo(leadingAnchor()),
      trackingView->trailingAnchor().constraintEqualTo(trailingAnchor()),
  });
}

void MaskingView::didAddSubview(uikit::UIView* view) {
  PassthroughView::didAddSubview(view);
  if (!keyboardTrackingView_ || view == keyboardTrackingView_.get() || view == backgroundView().get()) return;
  uikit::CGFloat offset = 0;
  if (auto* adjustable = dynamic_cast<MarginAdjustable*>(view)) offset = -adjustable->bounceAnimationOffset();
  auto keepAbove = keyboardTrackingView_->topAnchor().constraintGreaterThanOrEqualTo(view->bottomAnchor(), offset);
  keepAbove->setPriority(250);
  keepAbove->setActive(true);
}

std::shared_ptr<uikit::UIView> MaskingView::accessibilityElementAtIndex(std::size_t index) const {
  if (index >= accessibleElements.size()) return nullptr;
  return accessibleElements[index];
}

std::size_t MaskingView::indexOfAccessibilityElement(const uikit::UIView* element) const {
  for (std::size_t i = 0; i < accessibleElements.size(); ++i) {
    if (accessibleElements[i].get() == element) return i;
  }
  return NSNotFound;
}

}  // namespace MessageBanners
