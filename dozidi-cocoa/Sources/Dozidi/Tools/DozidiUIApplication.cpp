#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiUIApplication.h"

#include <algorithm>

#include "platform/foundation/Bundle.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Window.h"

namespace {

bool isAppExtension() {
  const auto bundle = foundation::Bundle::main();
  return bundle && bundle->bundlePath().ends_with(".appex");
}

}  // namespace

std::shared_ptr<DozidiUIApplication> DozidiUIApplication::create() {
  return std::shared_ptr<DozidiUIApplication>(new DozidiUIApplication());
}

DozidiUIApplication::~DozidiUIApplication() = default;

uikit::UIApplication* DozidiUIApplication::sharedApplication() const {
  if (isAppExtension()) return nullptr;
  return &uikit::UIApplication::shared();
}

std::vector<std::shared_ptr<uikit::UIWindowScene>> DozidiUIApplication::getApplicationConnectedScenes(
    const uikit::UIApplication* application) const {
  if (application == nullptr) return {};
  return application->connectedScenes();
}

std::vector<std::shared_ptr<uikit::UIWindow>> DozidiUIApplication::windows() const {
  const uikit::UIApplication* application = sharedApplication();
  if (application == nullptr) return {};
  std::vector<std::shared_ptr<uikit::UIWindow>> result;
  const auto scenes = getApplicationConnectedScenes(application);
  if (uikit::UIDevice::current().isAtLeast(13)) {
    for (const auto& scene : scenes) {
      if (!scene || scene->activationState != uikit::UISceneActivationState::ForegroundActive) continue;
      for (const auto& window : scene->windows()) {
        if (window->isVisible()) result.push_back(window);
      }
    }
  }
  for (const auto& window : application->windows()) {
    // A window of a connected scene is that scene's to give (or to hold back while it is in the
    // background); the others are the application's own.
    const auto scene = window->windowScene();
    if (scene && std::find(scenes.begin(), scenes.end(), scene) != scenes.end()) continue;
    result.push_back(window);
  }
  return result;
}
