#pragma once
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/uikit/View.h"

namespace foundation { struct Notification; }

namespace MessageBanners {

class KeyboardTrackingViewDelegate;

/// An invisible view along the bottom of a message container whose height is the part of the
/// on-screen keyboard that covers it, plus a top margin; messages kept above it are lifted over
/// the keyboard. It follows the keyboard's notifications with the keyboard's own duration and
/// curve, and ignores them while paused or while the application is inactive. Main thread only.
class KeyboardTrackingView : public uikit::UIView {
 public:
  /// Which notification caused a change.
  enum class Change { Show, Hide, Frame };

  /// A tracking view that follows the keyboard at once.
  static std::shared_ptr<KeyboardTrackingView> create(const uikit::CGRect& frame = {});
  ~KeyboardTrackingView() override;
  std::string className() const override { return "MessageBanners.KeyboardTrackingView"; }

  /// The view an archive makes: it starts following the keyboard in awakeFromNib.
  static std::shared_ptr<KeyboardTrackingView> createForArchive();
  /// For a view made from an archive: starts following the keyboard.
  void awakeFromNib() override;

  std::shared_ptr<KeyboardTrackingViewDelegate> delegate() const { return delegate_.lock(); }
  virtual void setDelegate(const std::shared_ptr<KeyboardTrackingViewDelegate>& delegate) { delegate_ = delegate; }
  virtual bool isPaused() const { return paused_; }
  /// Unpausing also ends an automatic pause.
  virtual void setPaused(bool paused);
  virtual uikit::CGFloat topMargin() const { return topMargin_; }
  virtual void setTopMargin(uikit::CGFloat margin) { topMargin_ = margin; }
  /// True while the application is inactive.
  bool isAutomaticallyPaused() const { return automaticallyPaused_; }
  /// The view's own height constraint; null until tracking is set up.
  const std::shared_ptr<uikit::NSLayoutConstraint>& heightConstraint() const { return heightConstraint_; }
  /// The keyboard's end frame from the last show or frame change; cleared when the keyboard
  /// hides, so a later layout pass does not bring back the height of a keyboard that is gone.
  const std::optional<uikit::CGRect>& lastObservedKeyboardRect() const { return lastObservedKeyboardRect_; }

  // Hooks for subclasses, called around each change.
  virtual void willChangeKeyboard(Change /*change*/, const foundation::Dictionary& /*userInfo*/) {}
  virtual void didChangeKeyboard(Change /*change*/, const foundation::Dictionary& /*userInfo*/) {}

  // Notification handlers.
  void keyboardWillShow(const foundation::Notification& notification);
  void keyboardWillChangeFrame(const foundation::Notification& notification);
  void keyboardWillHide(const foundation::Notification& notification);
  void pause() { automaticallyPaused_ = true; }
  void resume() { automaticallyPaused_ = false; }

  /// Recomputes the height from the stored keyboard frame, without animation.
  void layoutSubviews() override;

 protected:
  KeyboardTrackingView() = default;
  /// A zero height constraint, the notification observers and a clear background.
  void setUpTracking();

 private:
  void handleKeyboardChange(Change change, const foundation::Notification& notification);
  void handleKeyboardHide(const foundation::Notification& notification);
  void animateHeight(Change change, const foundation::Dictionary& userInfo, uikit::CGFloat height);
  uikit::CGFloat coveredHeight(const uikit::CGRect& keyboardFrame) const;
  bool ignoresNotifications() const { return isPaused() || automaticallyPaused_; }

  std::weak_ptr<KeyboardTrackingViewDelegate> delegate_;
  bool paused_ = false;
  uikit::CGFloat topMargin_ = 0;
  bool automaticallyPaused_ = false;
  std::shared_ptr<uikit::NSLayoutConstraint> heightConstraint_;
  std::optional<uikit::CGRect> lastObservedKeyboardRect_;
};

/// Hears the tracking view's height changes, with the notification's user info.
class KeyboardTrackingViewDelegate {
 public:
  virtual ~KeyboardTrackingViewDelegate() = default;
  virtual void trackingViewWillChange(KeyboardTrackingView::Change change, const foundation::Dictionary& userInfo) = 0;
  virtual void trackingViewDidChange(KeyboardTrackingView::Change change, const foundation::Dictionary& userInfo) = 0;
};

}  // namespace MessageBanners
