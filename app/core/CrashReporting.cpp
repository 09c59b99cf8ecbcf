#include "app/core/CrashReporting.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "dozidi-cocoa/Sources/Dozidi/AppHangs/DozidiANRTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Breadcrumbs/DozidiAutoBreadcrumbTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/OutOfMemory/DozidiOutOfMemoryTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/AppStart/DozidiAppStartTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiCoreDataTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiFileIOTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiNSDataTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/Network/DozidiNetworkTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/ShutdownWork.h"

namespace fendrel {

std::string crashReportingDSN() {
  if (const char* dsn = std::getenv("FENDREL_DSN")) return dsn;
  return kCrashReportingDSN;
}

namespace {

std::string runningProgramName() {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error).filename().string();
}

}  // namespace

bool tracesRequested() {
  const char* traces = std::getenv("FENDREL_TRACES");
  return traces != nullptr && std::string(traces) == "1";
}

void configureReporterOptions(DozidiOptions& options, const std::string& dsn) {
  options.setDsn(dsn);
  // A main thread that stops answering for the default two seconds is reported.
  options.enableAppHangTracking = true;
  if (tracesRequested()) {
    // Every transaction is sent: screens, taps and the work they start.
    options.setTracesSampleRate(1.0);
    options.enableUserInteractionTracing = true;
    // The files the traced work reads and writes are spans of its transaction too.
    options.enableFileIOTracking = true;
    // The screens are classes of the running program, whatever its file is called.
    if (const auto program = runningProgramName(); !program.empty()) options.addInAppInclude(program);
  }
}

namespace {

void registerAppIntegrations() {
  DozidiFileIOTrackingIntegration::registerWithSDK();
  DozidiNetworkTrackingIntegration::registerWithSDK();
  DozidiCoreDataTrackingIntegration::registerWithSDK();
  DozidiAutoBreadcrumbTrackingIntegration::registerWithSDK();
  DozidiAppStartTrackingIntegration::registerWithSDK();
  DozidiANRTrackingIntegration::registerWithSDK();
  DozidiOutOfMemoryTrackingIntegration::registerWithSDK();
}

}  // namespace

bool startCrashReporter(ReporterIntegrations integrations) {
  const std::string dsn = crashReportingDSN();
  if (dsn.empty()) return false;
  // Crashes are recorded from here on and delivered at the next start.
  DozidiCrashIntegration::registerWithSDK();
  if (integrations == ReporterIntegrations::App) registerAppIntegrations();
  DozidiSDK::startWithConfigureOptions([&dsn](DozidiOptions& options) { configureReporterOptions(options, dsn); });
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

namespace {
/// The transaction of the command line's launch; main thread only.
std::shared_ptr<DozidiTracer>& launchTransaction() {
  static std::shared_ptr<DozidiTracer> transaction;
  return transaction;
}
}  // namespace

void startLaunchTransaction() {
  if (!tracesRequested() || !DozidiSDK::isEnabled() || launchTransaction()) return;
  launchTransaction() = DozidiSDK::currentHub()->startTransactionWithName("launch", "app.launch", true);
}

void finishLaunchTransaction() {
  auto transaction = std::exchange(launchTransaction(), nullptr);
  if (!transaction) return;
  transaction->finish();
  DozidiSDK::configureScope([](DozidiScope& scope) { scope.setSpan(nullptr); });
}

bool traceStreamedFileWrite(const std::string& path, const std::function<bool()>& write) {
  // The size is known only once the file is written: the span starts with the file's name and
  // gets the size with it at the end.
  auto span = DozidiNSDataTracker::sharedInstance()->spanForPath(path, "file.write", 0);
  const bool written = write();
  if (!span) return written;
  std::error_code sizeError;
  const std::uintmax_t size = written ? std::filesystem::file_size(path, sizeError) : 0;
  const std::uint64_t recorded = sizeError ? 0 : static_cast<std::uint64_t>(size);
  span->context()->setSpanDescription(DozidiNSDataTracker::transactionDescriptionForFile(path, recorded));
  span->setDataValue(recorded, "file.size");
  span->finishWithStatus(written ? DozidiSpanStatus::Ok : DozidiSpanStatus::InternalError);
  return written;
}

void terminateApp(int status) {
  foundation::NotificationCenter::defaultCenter().post("UIApplicationWillTerminateNotification");
  foundation::ShutdownWork::exitProcess(status);
}

}  // namespace fendrel
