#pragma once
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"

/// The exception-kind monitor. This system delivers every fault to the faulting thread as a
/// signal (caught by the signal monitor), so this monitor catches nothing: switched on, it gives
/// every event of the other monitors its exception kind ("mach"."type"), which reports and their
/// diagnosis rely on.
const DozidiCrashMonitorAPI* dozidicrashcm_machexception_getAPI();

/// True for threads the suspension must leave running: none here, the monitor has no threads.
bool dozidicrashcm_isReservedThread(DozidiCrashThread thread);
