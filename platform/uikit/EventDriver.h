#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/uikit/Geometry.h"

namespace uikit {

class UIView;
class UIControl;
class UIGestureRecognizer;
class UIEvent;

/// Keys that are not text, as a desktop keyboard sends them to the app.
enum class UIKey { Backspace, Delete, Return, Tab, Escape, Left, Right, Up, Down, Home, End, SelectAll };

/// Delivers input to the application's windows: touches by screen point (hit-tested across the
/// visible windows, top level first), key text to the text field being edited, and the system's
/// keyboard notifications. Tests drive it directly; the desktop window feeds it mouse and keys.
/// One touch at a time. Main thread only.
class UIEventDriver {
 public:
  static UIEventDriver& shared();

  void touchDown(CGPoint screenPoint);
  void touchMove(CGPoint screenPoint);
  void touchUp(CGPoint screenPoint);
  /// Down and up at one point.
  void tap(CGPoint screenPoint);
  /// A tap at the centre of `view` on the screen.
  void tap(const UIView& view);
  /// Down at the first point, moves through the others at equal steps of the clock's time (no
  /// waiting), up at the last.
  void drag(const std::vector<CGPoint>& path, double seconds);

  /// Types `text` into the text field being edited, as the keyboard would.
  void typeText(const std::string& text);
  /// A key that is not text. Editing keys (backspace, delete, arrows, home, end, select-all,
  /// return) go to the text field being edited. Escape goes to the topmost presented controller
  /// of the key window that takes it (an alert chooses its cancel action, a sheet closes), else
  /// ends editing. Returns false when nothing took the key.
  bool pressKey(UIKey key);
  /// Posts a keyboard notification (UIKeyboardWill/DidShow/Hide/ChangeFrame) with `userInfo`.
  void postKeyboardNotification(const std::string& name, foundation::Dictionary userInfo);
  /// Posts the device's orientation change, as turning the device would.
  void postOrientationChange();
  /// A well-formed user info: the end frame, the duration and the curve.
  static foundation::Dictionary keyboardUserInfo(const CGRect& endFrame, double duration = 0.25, int curve = 7);

  /// The view the current touch began on (null between touches).
  std::shared_ptr<UIView> touchedView() const { return hit_; }

 private:
  std::shared_ptr<UIView> hit_;
  std::shared_ptr<UIControl> control_;
  std::vector<std::shared_ptr<UIGestureRecognizer>> recognizers_;
  bool claimed_ = false;
  double time_ = 0;
  /// The event of the current touch: actions sent while it is delivered carry it.
  std::shared_ptr<UIEvent> event_;
};

}  // namespace uikit
