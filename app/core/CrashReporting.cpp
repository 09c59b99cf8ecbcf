#include "app/core/CrashReporting.h"

#include <cstdlib>

#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiCoreDataTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiFileIOTrackingIntegration.h"

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
  DozidiFileIOTrackingIntegration::registerWithSDK();
  DozidiCoreDataTrackingIntegration::registerWithSDK();
  DozidiSDK::startWithConfigureOptions([&dsn](DozidiOptions& options) { options.setDsn(dsn); });
  return DozidiSDK::isEnabled();
}

}  // namespace fendrel
