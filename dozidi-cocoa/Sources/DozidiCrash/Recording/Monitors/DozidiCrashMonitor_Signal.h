#pragma once
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor.h"

/// The signal monitor: catches the fatal signals on an alternate stack, records the crash, and
/// raises the signal again so that the previous action ends the process.
const DozidiCrashMonitorAPI* dozidicrashcm_signal_getAPI();

/// Gives the calling thread an alternate signal stack of its own (kept for the thread's life),
/// so that a stack overflow on it is still caught. The enabling thread gets one automatically.
/// True when the thread has one.
bool dozidicrashcm_signal_installAlternateStackForThisThread();
