#pragma once
// A device root whose app bundle holds the app's storyboards, with the app state of the core
// tests' doubles, for driving the screens headless.

#include <filesystem>
#include <memory>
#include <string>

#include "app/core/tests/CoreDoubles.h"
#include "app/core/tests/CoreTestSupport.h"
#include "app/screens/StyledControls.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Archive.h"

namespace fendrel::test_support {

class ScopedScreens {
 public:
  ScopedScreens() {
    registerScreenArchiveClasses();
    uikit::UIApplication::shared().reset();
    const std::string bundle = foundation::DeviceRoot::bundlePath("Fendrel.app");
    for (const char* name : {"Main.storyboard", "Shared.storyboard", "Tutorial.storyboard", "tutorial0@2x.png",
                             "tutorial1@2x.png", "tutorial2@2x.png", "tutorial3@2x.png", "tutorial4@2x.png"}) {
      std::filesystem::copy_file(std::string(FENDREL_TEST_RESOURCES) + "/Fendrel.app/" + name, bundle + "/" + name,
                                 std::filesystem::copy_options::overwrite_existing);
    }
    foundation::Bundle::resetMain();
  }
  ~ScopedScreens() {
    uikit::UIApplication::shared().reset();
    foundation::Bundle::resetMain();
  }

  /// A new controller of the scene `identifier` of the storyboard `name`.
  template <class T>
  std::shared_ptr<T> instantiate(const std::string& name, const std::string& identifier) {
    auto board = uikit::UIStoryboard::storyboardWithName(name);
    if (!board) return nullptr;
    auto made = (*board)->instantiateViewControllerWithIdentifier(identifier);
    return made ? std::dynamic_pointer_cast<T>(*made) : nullptr;
  }
};

}  // namespace fendrel::test_support
