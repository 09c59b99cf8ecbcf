#pragma once
#include <memory>

#include "MessageBanners/Config.h"
#include "platform/uikit/ViewController.h"

namespace uikit { class UIWindow; }

namespace MessageBanners {

/// Owns the window a message is shown in: puts it on screen at the configured level and scene,
/// makes it key when the message asks for that (by default when it dims the screen), answers the
/// status-bar and rotation questions from the message's configuration, and when removed gives key
/// status back to the window that had it. One per presentation. Main thread only.
class WindowViewController : public uikit::UIViewController {
 public:
  /// What the configuration's factory makes, else a plain window view controller.
  static std::shared_ptr<WindowViewController> newInstance(const Config& config);
  /// A controller whose view is a pass-through view and whose window is a pass-through window
  /// at the context's level (normal for contexts without a level).
  static std::shared_ptr<WindowViewController> create(const Config& config = Config());
  std::string className() const override { return "MessageBanners.WindowViewController"; }

  /// Shows the window; makes it key when the configuration says so.
  virtual void install();
  /// Returns key status, detaches the window from its scene, hides and releases it.
  virtual void uninstall();

  const std::shared_ptr<uikit::UIWindow>& window() const { return window_; }
  std::shared_ptr<uikit::UIWindow> previousKeyWindow() const { return previousKeyWindow_.lock(); }
  const Config& config() const { return config_; }

  bool shouldAutorotate() const override { return config_.shouldAutorotate; }
  uikit::UIStatusBarStyle preferredStatusBarStyle() const override;
  bool prefersStatusBarHidden() const override;

  /// Makes the window and the root view. A subclass made by a configuration's factory calls it
  /// once, right after it is made (create() does it for the plain class).
  void setUpWindow();

 protected:
  explicit WindowViewController(Config config) : config_(std::move(config)) {}

 private:
  std::shared_ptr<uikit::UIWindow> window_;
  std::weak_ptr<uikit::UIWindow> previousKeyWindow_;
  Config config_;
};

}  // namespace MessageBanners
