#pragma once
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor.h"
#include "platform/runtime/NSException.h"

/// The uncaught-exception monitor: takes the runtime's uncaught-exception handler and records
/// uncaught object exceptions; the same path records a user-reported snapshot.
const DozidiCrashMonitorAPI* dozidicrashcm_nsexception_getAPI();

/// The handler installed while the monitor is on: records a fatal event, then calls the handler
/// that was installed before.
void dozidicrashcm_nsexception_handleUncaughtException(runtime::NSException* exception);
/// Records a non-fatal snapshot of `exception`; the process goes on.
void dozidicrashcm_nsexception_handleCurrentSnapshotUserReportedException(runtime::NSException* exception);
