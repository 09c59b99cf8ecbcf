#pragma once
// The start of the app with its screens, shared by fendrel-app and the tests that run the app in
// their own process.

#include "platform/foundation/Result.h"

namespace fendrel {

class AppDelegate;

/// When the first screen goes into its window.
enum class FirstScreen {
  /// At once, in launchApp.
  Now,
  /// When a window first comes onto the screen (the first visible-window notification), after
  /// the notification has been delivered to all its observers: the app's start ends there, so
  /// the first screen's load is traced after it, as on the platform, where the screen's view
  /// loads as its window becomes visible.
  WhenOnScreen,
};

/// The application's start: makes the device root ready for the app, then runs the delegate's
/// start-up and shows the main storyboard's first screen in a key window, as the platform's
/// application main does (see FirstScreen for when). The extension-state query asks the browser
/// stand-in. Main thread, once per process. Errors: the device root cannot be prepared, or the
/// storyboard cannot be loaded.
foundation::Result<void> launchApp(AppDelegate& delegate, FirstScreen firstScreen = FirstScreen::Now);

}  // namespace fendrel
