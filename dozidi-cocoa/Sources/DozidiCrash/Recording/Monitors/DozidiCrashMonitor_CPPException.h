#pragma once
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor.h"

/// The C++ exception monitor: a terminate handler that records an uncaught exception with the
/// stack of the code that threw it (recorded by this library's `__cxa_throw`).
const DozidiCrashMonitorAPI* dozidicrashcm_cppexception_getAPI();
