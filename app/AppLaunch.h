#pragma once
// The start of the app with its screens, shared by fendrel-app and the tests that run the app in
// their own process.

#include "platform/foundation/Result.h"

namespace fendrel {

class AppDelegate;

/// The application's start: makes the device root ready for the app, then runs the delegate's
/// start-up and shows the main storyboard's first screen in a key window, as the platform's
/// application main does. The extension-state query asks the browser stand-in. Main thread, once
/// per process. Errors: the device root cannot be prepared, or the storyboard cannot be loaded.
foundation::Result<void> launchApp(AppDelegate& delegate);

}  // namespace fendrel
