#pragma once
#include <memory>
#include <vector>

namespace uikit {
class UIApplication;
class UIWindow;
class UIWindowScene;
}  // namespace uikit

/// The reporter's way to the application object and its windows, replaceable in tests. In an app
/// extension the shared application is not reachable, and every answer is empty. Main thread
/// only, like the application it reads; crash-time callers read it from the crashing thread while
/// the main thread stands still.
class DozidiUIApplication {
 public:
  static std::shared_ptr<DozidiUIApplication> create();
  virtual ~DozidiUIApplication();

  /// The shared application, or null when this process is an app extension (its main bundle is an
  /// ".appex"), which has none.
  virtual uikit::UIApplication* sharedApplication() const;
  /// The application's connected scenes; empty without an application.
  std::vector<std::shared_ptr<uikit::UIWindowScene>> getApplicationConnectedScenes(
      const uikit::UIApplication* application) const;
  /// The application's shown windows: first those of each foreground-active scene, scene by scene,
  /// then the windows the application shows outside any scene (the application delegate's),
  /// bottom to top. A window of a scene in the background or not yet active is left out, and so
  /// is a hidden window.
  std::vector<std::shared_ptr<uikit::UIWindow>> windows() const;

 protected:
  DozidiUIApplication() = default;
};
