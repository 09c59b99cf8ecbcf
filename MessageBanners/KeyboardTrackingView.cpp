#include "MessageBanners/KeyboardTrackingView.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "MessageBanners/detail/ToolkitSeams.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Transaction.h"

namespace MessageBanners {

using foundation::Notification;
using foundation::NotificationCenter;

namespace {

/// The curve number as the view-animation curve; a value no curve can have (not finite, or
/// beyond int) becomes the default ease-in-out rather than an undefined conversion.
int curveOf(double number) {
  if (!std::isfinite(number) || number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) {
    return 0;
  }
  return static_cast<int>(number);
}

}  // namespace

std::shared_ptr<KeyboardTrackingView> KeyboardTrackingView::create(const uikit::CGRect& frame) {
  auto view = std::shared_ptr<KeyboardTrackingView>(new KeyboardTrackingView());
  view->setFrame(frame);
  view->setUpTracking();
  return view;
}

std::shared_ptr<KeyboardTrackingView> KeyboardTrackingView::createForArchive() {
  return std::shared_ptr<KeyboardTrackingView>(new KeyboardTrackingView());
}

KeyboardTrackingView::~KeyboardTrackingView() {
  NotificationCenter::defaultCenter().removeObserver(static_cast<const void*>(this));
}

void KeyboardTrackingView::awakeFromNib() { setUpTracking(); }

void KeyboardTrackingView::setPaused(bool paused) {
  paused_ = paused;
  if (!paused) automaticallyPaused_ = false;
}

void KeyboardTrackingView::setUpTracking() {
  setTranslatesAutoresizingMaskIntoConstraints(false);
  heightConstraint_ = heightAnchor().constraintEqualToConstant(0);
  heightConstraint_->setActive(true);
  // The centre holds the view weakly and drops the registrations once it is gone.
  auto self = std::static_pointer_cast<KeyboardTrackingView>(shared_from_this());
  std::weak_ptr<KeyboardTrackingView> weak = self;
  auto& center = NotificationCenter::defaultCenter();
  center.addObserver(weak, UIKeyboardWillShowNotification, &KeyboardTrackingView::keyboardWillShow);
  center.addObserver(weak, UIKeyboardWillChangeFrameNotification, &KeyboardTrackingView::keyboardWillChangeFrame);
  center.addObserver(weak, UIKeyboardWillHideNotification, &KeyboardTrackingView::keyboardWillHide);
  center.addObserver(weak, UIApplicationWillResignActiveNotification,
                     [](KeyboardTrackingView& view, const Notification&) { view.pause(); });
  center.addObserver(weak, UIApplicationDidBecomeActiveNotification,
                     [](KeyboardTrackingView& view, const Notification&) { view.resume(); });
  setBackgroundColor(uikit::UIColor::clearColor());
}

void KeyboardTrackingView::keyboardWillShow(const Notification& notification) {
  handleKeyboardChange(Change::Show, notification);
}

void KeyboardTrackingView::keyboardWillChangeFrame(const Notification& notification) {
  handleKeyboardChange(Change::Frame, notification);
}

void KeyboardTrackingView::keyboardWillHide(const Notification& notification) { handleKeyboardHide(notification); }

uikit::CGFloat KeyboardTrackingView::coveredHeight(const uikit::CGRect& keyboardFrame) const {
  uikit::CGRect own = convertRectToView(bounds(), nullptr);
  return std::max(own.maxY() - keyboardFrame.minY(), 0.0) + topMargin();
}

void KeyboardTrackingView::handleKeyboardChange(Change change, const Notification& notification) {
  // Before set-up there is no height to change.
  if (ignoresNotifications() || !heightConstraint_ || notification.userInfo.empty()) return;
  auto frame = uikit::unboxRect(notification.userInfo[UIKeyboardFrameEndUserInfoKey]);
  if (!frame) return;
  willChangeKeyboard(change, notification.userInfo);
  if (auto d = delegate()) d->trackingViewWillChange(change, notification.userInfo);
  lastObservedKeyboardRect_ = frame;
  uikit::CGFloat height = coveredHeight(*frame);
  if (height != heightConstraint_->constant()) animateHeight(change, notification.userInfo, height);
}

void KeyboardTrackingView::handleKeyboardHide(const Notification& notification) {
  if (ignoresNotifications() || !heightConstraint_ || notification.userInfo.empty()) return;
  // The keyboard is gone: its frame must not size the view on a later layout pass.
  lastObservedKeyboardRect_.reset();
  if (heightConstraint_->constant() == 0) return;
  if (auto d = delegate()) d->trackingViewWillChange(Change::Hide, notification.userInfo);
  animateHeight(Change::Hide, notification.userInfo, 0);
}

void KeyboardTrackingView::animateHeight(Change change, const foundation::Dictionary& userInfo, uikit::CGFloat height) {
  heightConstraint_->setConstant(height);
  auto duration = userInfo[UIKeyboardAnimationDurationUserInfoKey].asDouble();
  auto curve = userInfo[UIKeyboardAnimationCurveUserInfoKey].asDouble();
  if (!duration || !curve) return;
  std::weak_ptr<KeyboardTrackingView> weak = std::static_pointer_cast<KeyboardTrackingView>(shared_from_this());
  uikit::CATransaction::begin();
  uikit::CATransaction::setCompletionBlock([weak, change, userInfo] {
    auto view = weak.lock();
    if (!view) return;
    view->didChangeKeyboard(change, userInfo);
    if (auto d = view->delegate()) d->trackingViewDidChange(change, userInfo);
  });
  uikit::UIView::beginAnimations();
  uikit::UIView::setAnimationDuration(std::isfinite(*duration) ? std::max(*duration, 0.0) : 0.0);
  uikit::UIView::setAnimationCurve(curveOf(*curve));
  uikit::UIView::setAnimationBeginsFromCurrentState(true);
  if (auto parent = superview()) parent->layoutIfNeeded();
  uikit::UIView::commitAnimations();
  uikit::CATransaction::commit();
}

void KeyboardTrackingView::layoutSubviews() {
  UIView::layoutSubviews();
  if (!heightConstraint_) return;
  uikit::CGFloat height = lastObservedKeyboardRect_ ? coveredHeight(*lastObservedKeyboardRect_) : 0;
  if (height != heightConstraint_->constant()) heightConstraint_->setConstant(height);
}

}  // namespace MessageBanners
