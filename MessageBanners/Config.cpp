#include "MessageBanners/Config.h"

namespace MessageBanners {

PresentationContext PresentationContext::window(UIWindowLevel windowLevel) {
  PresentationContext context(Kind::Window);
  context.windowLevel_ = windowLevel;
  return context;
}

PresentationContext PresentationContext::windowScene(std::shared_ptr<WindowScene> scene, UIWindowLevel windowLevel) {
  PresentationContext context(Kind::WindowScene);
  context.scene_ = std::move(scene);
  context.windowLevel_ = windowLevel;
  return context;
}

PresentationContext PresentationContext::viewController(std::shared_ptr<uikit::UIViewController> controller) {
  PresentationContext context(Kind::ViewController);
  context.controller_ = std::move(controller);
  return context;
}

PresentationContext PresentationContext::view(std::shared_ptr<uikit::UIView> view) {
  PresentationContext context(Kind::View);
  context.view_ = std::move(view);
  return context;
}

PresentationContext PresentationContext::automatic() { return PresentationContext(Kind::Automatic); }

Duration Duration::seconds(double seconds) {
  Duration duration(Kind::Seconds);
  duration.seconds_ = seconds;
  return duration;
}

Duration Duration::indefinite(double delay, double minimum) {
  Duration duration(Kind::Indefinite);
  duration.delay_ = delay;
  duration.minimum_ = minimum;
  return duration;
}

DimMode DimMode::gray(bool interactive) {
  DimMode mode(Kind::Gray);
  mode.interactive_ = interactive;
  return mode;
}

DimMode DimMode::color(uikit::UIColor color, bool interactive) {
  DimMode mode(Kind::Color);
  mode.color_ = std::move(color);
  mode.interactive_ = interactive;
  return mode;
}

DimMode DimMode::blur(UIBlurEffectStyle style, uikit::CGFloat alpha, bool interactive) {
  DimMode mode(Kind::Blur);
  mode.blurStyle_ = style;
  mode.alpha_ = alpha;
  mode.interactive_ = interactive;
  return mode;
}

uikit::UIUserInterfaceStyle Config::overrideUserInterfaceStyle() const {
  return static_cast<uikit::UIUserInterfaceStyle>(overrideUserInterfaceStyleRawValue.value_or(0));
}

void Config::setOverrideUserInterfaceStyle(uikit::UIUserInterfaceStyle style) {
  overrideUserInterfaceStyleRawValue = static_cast<int>(style);
}

std::shared_ptr<uikit::UIWindowScene> Config::windowScene() const {
  if (presentationContext.kind() == PresentationContext::Kind::WindowScene) {
    const auto& scene = presentationContext.scene();
    return scene ? scene->uiWindowScene() : nullptr;
  }
  return detail::keyWindowScene();
}

bool Config::shouldBecomeKeyWindow() const { return becomeKeyWindow.value_or(dimMode.modal()); }

}  // namespace MessageBanners
