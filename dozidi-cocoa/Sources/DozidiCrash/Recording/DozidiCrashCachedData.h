#pragma once
// A cache of the process's threads and their names, refreshed by a background thread while the
// process is healthy, so a crash handler can name threads without asking the kernel.

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"

/// Starts the refresh thread (no-op while it runs): a refresh at once, then four refreshes one
/// second apart, then one every `pollingIntervalInSeconds`.
void dozidicrashccd_init(int pollingIntervalInSeconds);

/// Stops the refresh thread and waits for it to leave. The cache stays readable.
void dozidicrashccd_close();

/// Holds refreshes off while a report is written; calls nest.
/// Runs during a crash: no allocation, no locks.
void dozidicrashccd_freeze();
/// Ends one freeze; the counter never goes below 0.
void dozidicrashccd_unfreeze();

/// The cached name of `thread`, or null without a cache entry or name. The text stays valid
/// until the second refresh after the call, and for as long as the cache is frozen.
/// Runs during a crash: no allocation, no locks.
const char* dozidicrashccd_getThreadName(DozidiCrashThread thread);

/// Queue names are not kept on Linux (threads have no dispatch queue): always null.
const char* dozidicrashccd_getQueueName(DozidiCrashThread thread);

namespace dozidicrash::detail {
/// One refresh step of the refresh thread: nothing while the cache is frozen. Only one thread
/// may refresh at a time (the refresh thread, or a test while it is not running).
bool refreshCachedThreadData();
}  // namespace dozidicrash::detail
