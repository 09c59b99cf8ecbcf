#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/Result.h"
#include "platform/uikit/DesktopHost.h"
#include "platform/uikit/Image.h"

namespace uikit {

/// A GTK window on the desktop that shows a host's view through the renderer and feeds it input:
/// mouse presses, drags and releases of the first button become touches, typed characters become
/// text, editing and arrow keys become keys, and resizing the window resizes the screen. While the
/// shown tree has running animations it redraws at the display's frame rate; otherwise it redraws
/// after input, when the window system asks, and after main-queue work (display links' frames
/// among it) that changed the picture: work that changed nothing on the screen draws no frame.
/// Its focus and minimising drive the application's state (active, inactive, background, with
/// their notifications), and its first showing on the screen posts the window-visible
/// notification. Lives on the main thread, which also runs GTK.
class DesktopWindow {
 public:
  struct Options {
    std::string title = "Fendrel";
    /// The screen's size in points (one point per logical pixel of the desktop).
    CGSize size{390, 844};
  };

  /// Opens the window. Fails when GTK finds no display.
  static foundation::Result<std::unique_ptr<DesktopWindow>> open(std::shared_ptr<DesktopHost> host, Options options);
  ~DesktopWindow();
  DesktopWindow(const DesktopWindow&) = delete;
  DesktopWindow& operator=(const DesktopWindow&) = delete;

  /// Runs GTK's events and the main queue until `done()` holds (true), the window is closed or
  /// `timeoutSeconds` of real time pass (false; dispatch::kForever waits without limit). `done()`
  /// is checked after each event or main-queue wake-up; `recheck` says whether it is also checked
  /// now and then while idle, as in dispatch::runMainLoopUntil().
  bool runUntil(const std::function<bool()>& done, double timeoutSeconds,
                dispatch::Recheck recheck = dispatch::Recheck::Periodically);
  /// Runs until the user closes the window.
  void run();
  /// Asks for a new frame.
  void setNeedsDisplay();
  /// Frames drawn so far.
  std::size_t framesDrawn() const;
  bool isOpen() const;
  /// The window's content as the desktop shows it now.
  foundation::Result<std::shared_ptr<UIImage>> screenshot() const;
  /// The GTK window (a GtkWidget*), for tests that send it events.
  void* nativeWindow() const;

  /// What the window and its GTK callbacks share; defined in the source file.
  struct State;

 private:
  explicit DesktopWindow(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace uikit
