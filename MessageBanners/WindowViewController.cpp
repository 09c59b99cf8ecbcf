#include "MessageBanners/WindowViewController.h"

#include "MessageBanners/PassthroughView.h"
#include "MessageBanners/PresentationContextSelection.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Window.h"

namespace MessageBanners {

std::shared_ptr<WindowViewController> WindowViewController::newInstance(const Config& config) {
  if (config.windowViewController) {
    if (auto made = config.windowViewController(config)) return made;
  }
  return create(config);
}

std::shared_ptr<WindowViewController> WindowViewController::create(const Config& config) {
  std::shared_ptr<WindowViewController> controller(new WindowViewController(config));
  controller->setUpWindow();
  return controller;
}

void WindowViewController::setUpWindow() {
  auto view = PassthroughView::create();
  auto window = PassthroughWindow::create(view);
  setView(view);
  window->setRootViewController(shared_from_this());
  const auto& context = config_.presentationContext;
  const bool hasLevel = context.kind() == PresentationContext::Kind::Window ||
                        context.kind() == PresentationContext::Kind::WindowScene;
  window->setWindowLevel(hasLevel ? context.windowLevel() : UIWindowLevelNormal);
  if (uikit::UIDevice::current().isAtLeast(13)) {
    window->setOverrideUserInterfaceStyle(
        static_cast<uikit::UIUserInterfaceStyle>(config_.overrideUserInterfaceStyleRawValue.value_or(0)));
  }
  window_ = window;
}

void WindowViewController::install() {
  uikit::CGRect frame = uikit::UIScreen::main().bounds();
  if (uikit::UIDevice::current().isAtLeast(13)) {
    // The scene of a window-scene context, else the scene of the app's key window.
    auto scene = config_.windowScene();
    if (window_) window_->setWindowScene(scene);
    previousKeyWindow_ = mb_keyWindow();
    if (scene) frame = scene->coordinateSpaceBounds;
  }
  if (!window_) return;
  window_->setFrame(frame);
  if (config_.shouldBecomeKeyWindow()) {
    window_->makeKeyAndVisible();
  } else {
    window_->setVisible(true);
  }
}

void WindowViewController::uninstall() {
  if (window_ && window_->isKeyWindow()) {
    if (auto previous = previousKeyWindow_.lock()) previous->makeKeyWindow();
  }
  if (uikit::UIDevice::current().isAtLeast(13)) {
    if (!window_) return;
    window_->setWindowScene(nullptr);
  }
  if (!window_) return;
  window_->setVisible(false);
  // The window holds this controller as its root; letting go of the window ends that cycle.
  window_->setRootViewController(nullptr);
  window_.reset();
}

uikit::UIStatusBarStyle WindowViewController::preferredStatusBarStyle() const {
  if (config_.preferredStatusBarStyle) return static_cast<uikit::UIStatusBarStyle>(*config_.preferredStatusBarStyle);
  return UIViewController::preferredStatusBarStyle();
}

bool WindowViewController::prefersStatusBarHidden() const {
  if (config_.prefersStatusBarHidden) return *config_.prefersStatusBarHidden;
  return UIViewController::prefersStatusBarHidden();
}

}  // namespace MessageBanners
