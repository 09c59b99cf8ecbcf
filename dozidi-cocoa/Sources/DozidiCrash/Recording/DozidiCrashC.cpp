#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashC.h"

#include <atomic>
#include <cstring>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashCachedData.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashReport.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashReportFixer.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashReportStore.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_AppState.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashFileUtils.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashFormat.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"

namespace {

std::atomic<bool> g_installed{false};
std::atomic<std::uint32_t> g_monitoring{kDozidiCrashDefaultMonitors};
char g_lastCrashReportFilePath[kDozidiCrashStorePathSize];
std::atomic<DozidiCrashAttachmentCallback> g_saveScreenShot{nullptr};
std::atomic<DozidiCrashAttachmentCallback> g_saveViewHierarchy{nullptr};

// The attachment callbacks draw windows and walk views: they allocate, take locks and read the
// toolkit's state. That is safe only when the crash is handled in normal context, which is the
// case for a language exception (an uncaught object-runtime or C++ exception, handled on the
// throwing thread), and never inside a signal handler, nor for a crash during crash handling.
bool mayRunAttachmentCallbacks(const DozidiCrash_MonitorContext& context) {
  const bool languageException = context.crashType == DozidiCrashMonitorTypeNSException ||
                                 context.crashType == DozidiCrashMonitorTypeCPPException;
  return languageException && !context.crashedDuringCrashHandling;
}

// Receives every handled event: writes the report, saves the crash state, then lets the
// attachment callbacks fill the report's attachments folder. The report goes first: it is what
// the next launch sends, and saving the state replaces a file, which makes the file system start
// writing its data out at once (a few hundred microseconds that the report need not wait for).
// The callbacks run only for language exceptions (see mayRunAttachmentCallbacks).
// The report takes the application facts from the event, which holds them as they were before
// the crash state counted this crash.
void onCrashEvent(DozidiCrash_MonitorContext* monitorContext) {
  if (monitorContext->crashedDuringCrashHandling) {
    dozidicrashreport_writeRecrashReport(monitorContext, g_lastCrashReportFilePath);
  } else {
    char crashReportFilePath[kDozidiCrashStorePathSize];
    dozidicrashstore_getNextCrashReportPath(crashReportFilePath);
    std::strncpy(g_lastCrashReportFilePath, crashReportFilePath, sizeof(g_lastCrashReportFilePath) - 1);
    g_lastCrashReportFilePath[sizeof(g_lastCrashReportFilePath) - 1] = '\0';
    if (crashReportFilePath[0] != '\0') dozidicrashreport_writeStandardReport(monitorContext, crashReportFilePath);
  }
  if (!monitorContext->currentSnapshotUserReported) dozidicrashstate_notifyAppCrash();

  if (!mayRunAttachmentCallbacks(*monitorContext)) return;
  const DozidiCrashAttachmentCallback saveScreenShot = g_saveScreenShot.load();
  const DozidiCrashAttachmentCallback saveViewHierarchy = g_saveViewHierarchy.load();
  if (saveScreenShot != nullptr || saveViewHierarchy != nullptr) {
    char attachmentsPath[kDozidiCrashStorePathSize];
    dozidicrashstore_getAttachmentsPathFromReport(g_lastCrashReportFilePath, attachmentsPath);
    if (attachmentsPath[0] != '\0' && dozidicrashfu_makePath(attachmentsPath)) {
      if (saveScreenShot != nullptr) saveScreenShot(attachmentsPath);
      if (saveViewHierarchy != nullptr) saveViewHierarchy(attachmentsPath);
    }
  }
}

}  // namespace

std::uint32_t dozidicrash_install(const char* appName, const char* installPath) {
  if (g_installed.exchange(true)) return g_monitoring.load();

  char path[kDozidiCrashStorePathSize];
  if (dozidicrashfmt_format(path, sizeof(path), "%s/Reports", installPath) >= sizeof(path) - 1) {
    DOZIDICRASHLOG_ERROR("Install path is too long: %s", installPath);
  }
  dozidicrashfu_makePath(path);
  dozidicrashstore_initialize(appName, path);
  dozidicrashreport_prepare(path);

  dozidicrashfmt_format(path, sizeof(path), "%s/Data", installPath);
  dozidicrashfu_makePath(path);
  dozidicrashfmt_format(path, sizeof(path), "%s/Data/CrashState.json", installPath);
  dozidicrashstate_loadState(path);

  // What the crash path needs ready: the suspension's handler and the unwinder.
  dozidicrashmc_prepare();

  dozidicrashcm_setEventCallback(onCrashEvent);
  const std::uint32_t monitoring = dozidicrash_setMonitoring(g_monitoring.load());
  // The cached-data thread starts once the monitors are on: its first refresh reads the loaded
  // images and their symbol tables under the loader's lock, which the signal monitor's rebinding
  // of thread creation would otherwise wait for. Its own stack then comes through that rebinding.
  dozidicrashccd_init(60);
  return monitoring;
}

std::uint32_t dozidicrash_setMonitoring(std::uint32_t monitors) {
  g_monitoring.store(monitors);
  if (!g_installed.load()) return monitors;
  dozidicrashcm_setActiveMonitors(monitors);
  return dozidicrashcm_getActiveMonitors();
}

void dozidicrash_uninstall() {
  dozidicrashcm_setEventCallback(nullptr);
  g_installed.store(false);
  dozidicrashccd_close();
}

std::optional<std::string> dozidicrash_readReport(std::int64_t reportID) {
  if (reportID <= 0) {
    DOZIDICRASHLOG_ERROR("Report ID was %llx", static_cast<unsigned long long>(reportID));
    return std::nullopt;
  }
  const std::optional<std::string> rawReport = dozidicrashstore_readReport(reportID);
  if (!rawReport) {
    DOZIDICRASHLOG_ERROR("Failed to load report ID %llx", static_cast<unsigned long long>(reportID));
    return std::nullopt;
  }
  std::optional<std::string> fixedReport = dozidicrashcrf_fixupCrashReport(*rawReport);
  if (!fixedReport) {
    DOZIDICRASHLOG_ERROR("Failed to fixup report ID %llx", static_cast<unsigned long long>(reportID));
  }
  return fixedReport;
}

void dozidicrash_setSaveScreenshots(DozidiCrashAttachmentCallback callback) { g_saveScreenShot.store(callback); }
void dozidicrash_setSaveViewHierarchy(DozidiCrashAttachmentCallback callback) { g_saveViewHierarchy.store(callback); }

void dozidicrash_setUserInfoJSON(const char* userInfoJSON) { dozidicrashreport_setUserInfoJSON(userInfoJSON); }
void dozidicrash_setIntrospectMemory(bool introspectMemory) { dozidicrashreport_setIntrospectMemory(introspectMemory); }
void dozidicrash_setDoNotIntrospectClasses(const char** doNotIntrospectClasses, int length) {
  dozidicrashreport_setDoNotIntrospectClasses(doNotIntrospectClasses, length);
}
void dozidicrash_setCrashNotifyCallback(DozidiCrashReportWriteCallback onCrashNotify) {
  dozidicrashreport_setUserSectionWriteCallback(onCrashNotify);
}
void dozidicrash_setMaxReportCount(int maxReportCount) { dozidicrashstore_setMaxReportCount(maxReportCount); }
void dozidicrash_notifyAppActive(bool isActive) { dozidicrashstate_notifyAppActive(isActive); }
void dozidicrash_notifyAppInForeground(bool isInForeground) { dozidicrashstate_notifyAppInForeground(isInForeground); }
void dozidicrash_notifyAppTerminate() { dozidicrashstate_notifyAppTerminate(); }
int dozidicrash_getReportCount() { return dozidicrashstore_getReportCount(); }
int dozidicrash_getReportIDs(std::int64_t* reportIDs, int count) { return dozidicrashstore_getReportIDs(reportIDs, count); }
void dozidicrash_deleteAllReports() { dozidicrashstore_deleteAllReports(); }
void dozidicrash_deleteReportWithID(std::int64_t reportID) { dozidicrashstore_deleteReportWithID(reportID); }
