#include "app/screens/AppDelegate.h"

#include "app/core/CrashReporting.h"
#include "app/core/Singleton.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiPerformanceTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIEventTrackingIntegration.h"
#include "platform/uikit/Log.h"

namespace fendrel {

bool AppDelegate::didFinishLaunchingWithOptions(const foundation::Dictionary&) {
  // The screen and interaction tracing install only when the options turn tracing on.
  DozidiPerformanceTrackingIntegration::registerWithSDK();
  DozidiUIEventTrackingIntegration::registerWithSDK();
  if (startCrashReporter()) startReporterSession();
  Singleton& singleton = Singleton::shared();
  // Reading the count first sends "firstLaunchEver" once in the app's life. The stored count
  // saturates at its largest value instead of wrapping.
  (void)singleton.launchCount();
  if (auto counted = singleton.countLaunch(); !counted) {
    // The app runs on; the count is only a hint for the rate prompt.
    uikit::UIKitLog::write("cannot store the launch count: " + counted.error().localizedDescription());
  }
  return true;
}

}  // namespace fendrel
