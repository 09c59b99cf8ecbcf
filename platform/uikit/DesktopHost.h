#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/uikit/EventDriver.h"
#include "platform/uikit/Geometry.h"

namespace uikit {

class UIView;
class UIWindow;
class UIEvent;

/// Phases of a touch, as the desktop window reports mouse presses, drags and releases.
enum class DesktopTouchPhase { Began, Moved, Ended, Cancelled };

/// Keys that are not text.
using DesktopKey = UIKey;

/// What the desktop window needs from the application it shows: the view to draw, and where
/// touches, text, keys and a new screen size go. Locations are in points of the screen, with the
/// origin at the top left. Every call comes on the main thread.
class DesktopHost {
 public:
  virtual ~DesktopHost() = default;
  /// The views shown on the screen, bottom first (the application's visible windows by level);
  /// empty when there is none.
  virtual std::vector<std::shared_ptr<UIView>> displayedViews() = 0;
  virtual void handleTouch(DesktopTouchPhase phase, CGPoint location) = 0;
  /// Text typed on the keyboard (UTF-8).
  virtual void insertText(const std::string& text) = 0;
  virtual void pressKey(DesktopKey key) = 0;
  /// The screen now has `size` points.
  virtual void resizeScreen(CGSize size) = 0;
};

/// A host that shows one window: it resizes the window with the screen and tracks touches on the
/// controls they begin on (touch-down, up-inside when the touch ends inside the control,
/// up-outside otherwise). Text and keys go to the optional handlers.
class WindowDesktopHost final : public DesktopHost {
 public:
  explicit WindowDesktopHost(std::shared_ptr<UIWindow> window);

  std::function<void(const std::string&)> onText;
  std::function<void(DesktopKey)> onKey;

  std::vector<std::shared_ptr<UIView>> displayedViews() override;
  void handleTouch(DesktopTouchPhase phase, CGPoint location) override;
  void insertText(const std::string& text) override;
  void pressKey(DesktopKey key) override;
  void resizeScreen(CGSize size) override;

 private:
  std::shared_ptr<UIWindow> window_;
  std::weak_ptr<UIView> tracked_;
  std::shared_ptr<UIEvent> event_;
};

/// The host of a whole application: it shows every visible window of `UIApplication::shared()`
/// by level, delivers touches, typed text and keys through `UIEventDriver::shared()` (hit-tested
/// across the windows, as on the device), and gives a new screen size to the screen and every
/// window. Keys the app does not take go to the optional handler.
class ApplicationDesktopHost final : public DesktopHost {
 public:
  std::function<void(DesktopKey)> onKey;

  std::vector<std::shared_ptr<UIView>> displayedViews() override;
  void handleTouch(DesktopTouchPhase phase, CGPoint location) override;
  void insertText(const std::string& text) override;
  void pressKey(DesktopKey key) override;
  void resizeScreen(CGSize size) override;
};

}  // namespace uikit
