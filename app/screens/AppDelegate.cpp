#include "app/screens/AppDelegate.h"

#include <cstdlib>

#include "app/core/Singleton.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiSDK.h"
#include "platform/uikit/Log.h"

namespace fendrel {

namespace {

/// Starts the crash reporter with the DSN as its only option. This is the one place the app
/// starts it; a configuration-block start of the SDK goes here when the SDK offers one.
void startCrashReporter(const std::string& dsn) {
  foundation::Dictionary options;
  if (!dsn.empty()) options.set("dsn", dsn);
  DozidiSDK::startWithOptions(options);
}

}  // namespace

std::string AppDelegate::crashReportingDSN() {
  if (const char* dsn = std::getenv("FENDREL_DSN")) return dsn;
  return kDSN;
}

bool AppDelegate::didFinishLaunchingWithOptions(const foundation::Dictionary&) {
  startCrashReporter(crashReportingDSN());
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
