#include "app/core/CrashReporting.h"

#include <cstdlib>

#include "dozidi-cocoa/Sources/Dozidi/DozidiCrashIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiSDK.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/ShutdownWork.h"

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
  DozidiSDK::startWithConfigureOptions([&dsn](DozidiOptions& options) { options.setDsn(dsn); });
  return DozidiSDK::isEnabled();
}

void startReporterSession() {
  DozidiSDK::startSession();
  // The registration lives as long as the process: the work runs when the program ends.
  static foundation::ShutdownWork::Registration endOfSession =
      foundation::ShutdownWork::add("crash reporter session", [] {
        DozidiSDK::endSession();
        DozidiSDK::flush(kReporterFlushSeconds);
      });
}

void terminateApp(int status) {
  foundation::NotificationCenter::defaultCenter().post("UIApplicationWillTerminateNotification");
  foundation::ShutdownWork::exitProcess(status);
}

}  // namespace fendrel
