#pragma once
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor.h"

/// The C++ exception monitor: a terminate handler that records an uncaught exception with the
/// stack of the code that threw it (recorded by this library's `__cxa_throw`).
const DozidiCrashMonitorAPI* dozidicrashcm_cppexception_getAPI();

/// Called by the interposed C++ throw entry on every throw: while the monitor is on, keeps the
/// throwing thread's stack for a report of the exception if it is never caught.
void dozidicrashcm_cppexception_noteThrow();
