#pragma once
// The fatal signals the recorder catches, and the names of signals and signal codes in reports.
// Numbers are this system's own (<signal.h>).

/// Runs during a crash: no allocation, no locks.
const int* dozidicrashsignal_fatalSignals();
int dozidicrashsignal_numFatalSignals();

/// The signal's name ("SIGSEGV"), or null when it has none.
/// Runs during a crash: no allocation, no locks.
const char* dozidicrashsignal_signalName(int signal);
/// The name of a signal's code ("SEGV_MAPERR"), or null when the signal or the code has none.
/// Runs during a crash: no allocation, no locks.
const char* dozidicrashsignal_signalCodeName(int signal, int code);
