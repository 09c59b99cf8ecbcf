#include "app/core/CrashReporting.h"

#include <cstdlib>

#include "dozidi-cocoa/Sources/Dozidi/AppHangs/DozidiANRTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiCrashIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/OutOfMemory/DozidiOutOfMemoryTrackingIntegration.h"

namespace fendrel {

std::string crashReportingDSN() {
  if (const char* dsn = std::getenv("FENDREL_DSN")) return dsn;
  return kCrashReportingDSN;
}

bool startCrashReporter() {
  const std::string dsn = crashReportingDSN();
  if (dsn.empty()) return false;
  // Crashes are recorded from here on and delivered at the next start.
  DozidiCrashIntegration::registerWithSDK();
  DozidiANRTrackingIntegration::registerWithSDK();
  DozidiOutOfMemoryTrackingIntegration::registerWithSDK();
  DozidiSDK::startWithConfigureOptions([&dsn](DozidiOptions& options) {
    options.setDsn(dsn);
    // A main thread that stops answering for the default two seconds is reported.
    options.enableAppHangTracking = true;
  });
  return DozidiSDK::isEnabled();
}

}  // namespace fendrel
