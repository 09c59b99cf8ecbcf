#pragma once
// The crash recorder's entry points: install, monitor switching, reports, and the settings the
// facade forwards.
#include <cstdint>
#include <optional>
#include <string>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashReportWriter.h"

/// The monitors switched on when nothing else is asked for: every one but Zombie.
inline constexpr std::uint32_t kDozidiCrashDefaultMonitors = 0x0EF;

/// Sets up the reports and data folders under `installPath`, the crash state, the cached thread
/// data and what the crash path needs, then switches on the requested monitors. Returns the
/// active monitors; once installed, later calls change nothing and return the requested mask.
std::uint32_t dozidicrash_install(const char* appName, const char* installPath);
/// Stores the requested monitors; when installed, applies them and returns the active ones.
std::uint32_t dozidicrash_setMonitoring(std::uint32_t monitors);
/// Forgets the event callback and stops the cached thread data; the monitors keep their state.
void dozidicrash_uninstall();
/// The stored report with that ID, fixed up for reading; none when it cannot be read.
std::optional<std::string> dozidicrash_readReport(std::int64_t reportID);

/// Called with the report's attachments folder after a crash report is written.
using DozidiCrashAttachmentCallback = void (*)(const char* path);
void dozidicrash_setSaveScreenshots(DozidiCrashAttachmentCallback callback);
void dozidicrash_setSaveViewHierarchy(DozidiCrashAttachmentCallback callback);

void dozidicrash_setUserInfoJSON(const char* userInfoJSON);
void dozidicrash_setIntrospectMemory(bool introspectMemory);
void dozidicrash_setDoNotIntrospectClasses(const char** doNotIntrospectClasses, int length);
void dozidicrash_setCrashNotifyCallback(DozidiCrashReportWriteCallback onCrashNotify);
void dozidicrash_setMaxReportCount(int maxReportCount);
void dozidicrash_notifyAppActive(bool isActive);
void dozidicrash_notifyAppInForeground(bool isInForeground);
void dozidicrash_notifyAppTerminate();
int dozidicrash_getReportCount();
int dozidicrash_getReportIDs(std::int64_t* reportIDs, int count);
void dozidicrash_deleteAllReports();
void dozidicrash_deleteReportWithID(std::int64_t reportID);
