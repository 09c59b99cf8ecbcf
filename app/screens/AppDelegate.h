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
  /// The crash-reporting address of the app. FENDREL_DSN, when set, takes its place (empty: the
  /// reporter starts without an address and sends nothing), which is how tests and demos keep
  /// reports on their own machine.
  static constexpr const char* kDSN = "https://e83d51a07bc94f26a1d5703c98e4b2f1@o184302.ingest.dozidi.io/7351842";

  /// The window of the main storyboard's first screen, set by the program that runs the app.
  std::shared_ptr<uikit::UIWindow> window;

  /// The start-up steps; always true. `options` are the launch options, unused.
  bool didFinishLaunchingWithOptions(const foundation::Dictionary& options = {});

  /// The DSN the start-up hands to the crash reporter.
  static std::string crashReportingDSN();
};

}  // namespace fendrel
