#pragma once
// The system monitor's facts: device, operating system, bundle and process, gathered once at the
// first enable (they need objects that are not safe in a crash), plus two memory figures
// measured at each crash. On Linux the facts describe Linux: uname, /proc, ELF build-ids.

#include <cstdint>
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashSystemFacts.h"


/// Enables or disables the monitor; the first enable gathers the facts (normal time).
void dozidicrashcm_system_setEnabled(bool isEnabled);
bool dozidicrashcm_system_isEnabled();

/// The gathered facts with the memory figures measured now; null while the monitor is disabled.
/// This is what the monitor adds to a crash event.
/// Runs during a crash: no allocation, no locks.
const DozidiCrashSystemFacts* dozidicrashcm_system_currentFacts();

/// Free memory in bytes now, 0 on failure.
/// Runs during a crash: no allocation, no locks.
std::uint64_t dozidicrashcm_system_freeMemorySize();
/// Free bytes on the file system holding the home folder, now.
std::uint64_t dozidicrashcm_system_freeStorageSize();
/// Always false: there is no simulator build here.
bool dozidicrashcm_system_isSimulatorBuild();

/// The architecture name for a CPU type and subtype, or null.
const char* dozidicrashcm_system_cpuArchitecture(std::int32_t cpuType, std::int32_t cpuSubType);

/// The monitor's row for the registry: the switch, and the facts added to every event.
const DozidiCrashMonitorAPI* dozidicrashcm_system_getAPI();
