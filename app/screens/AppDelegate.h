#pragma once
#include <memory>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/uikit/Window.h"

namespace fendrel {

/// The application delegate of the app. Its start-up does three things, in this order: starts the
/// crash reporter with the app's DSN, creates the app state, and counts the launch. Main thread.
class AppDelegate {
 public:
  /// The window of the main storyboard's first screen, set by the program that runs the app.
  std::shared_ptr<uikit::UIWindow> window;

  /// The start-up steps; always true. `options` are the launch options, unused.
  bool didFinishLaunchingWithOptions(const foundation::Dictionary& options = {});
};

}  // namespace fendrel
