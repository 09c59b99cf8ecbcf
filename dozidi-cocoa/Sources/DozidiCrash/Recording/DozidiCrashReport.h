#pragma once
// Writes the crash report file: a pretty-printed JSON document of format "3.2.0", "standard" for
// a crash and "minimal" for a crash inside crash handling. Writing runs in the crash handler.
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashReportWriter.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitorContext.h"

/// Writes the report of `monitorContext` to `path`, which must not exist yet.
/// Runs during a crash: no allocation, no locks.
void dozidicrashreport_writeStandardReport(const DozidiCrash_MonitorContext* monitorContext, const char* path);

/// Writes a minimal report to `path`, embedding the report that was being written there.
/// Runs during a crash: no allocation, no locks.
void dozidicrashreport_writeRecrashReport(const DozidiCrash_MonitorContext* monitorContext, const char* path);

/// Makes ready what writing a report uses, so that a crash spends no time on it: the memory of
/// the write buffer, and an unnamed file in `reportsFolder` that the first standard report names
/// instead of creating its file. Normal time, at install.
void dozidicrashreport_prepare(const char* reportsFolder);

/// Makes the text of the report's binary images from the images loaded now, when the kept
/// image list changed since the last call; a report copies it while the images stay the same.
/// Normal time: allocates. The cached-data thread calls it after each refresh of the image list.
void dozidicrashreport_prepareBinaryImages();

/// Keeps a copy of the user-info JSON text written into "user" (null clears it).
void dozidicrashreport_setUserInfoJSON(const char* userInfoJSON);
void dozidicrashreport_setIntrospectMemory(bool shouldIntrospectMemory);
/// Classes whose objects are never described beyond their class name.
void dozidicrashreport_setDoNotIntrospectClasses(const char** doNotIntrospectClasses, int length);
/// Called with the writer while "user" is open, for every report but a user-reported snapshot.
void dozidicrashreport_setUserSectionWriteCallback(DozidiCrashReportWriteCallback userSectionWriteCallback);
