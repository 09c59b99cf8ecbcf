#pragma once
#include <cstdint>

#include "DozidiCrashMonitor.h"

/// Counters and durations of the application's life between crashes, persisted in
/// "CrashState.json" so that the next launch learns whether this one crashed.
struct DozidiCrash_AppState {
  double activeDurationSinceLastCrash;
  double backgroundDurationSinceLastCrash;
  std::int32_t launchesSinceLastCrash;
  std::int32_t sessionsSinceLastCrash;
  double activeDurationSinceLaunch;
  double backgroundDurationSinceLaunch;
  std::int32_t sessionsSinceLaunch;
  bool crashedLastLaunch;
  double durationFromCrashStateInitToLastCrash;
  bool crashedThisLaunch;
  double appStateTransitionTime;  ///< seconds since 1970 of the last active or foreground change
  bool applicationIsActive;
  bool applicationIsInForeground;
};

/// Initialises the monitor: records the start time, keeps the file path, zeroes the record and
/// loads the file when it exists. Runs at install. A file of another version is rejected
/// (logged); fields read before its "version" key keep their values.
void dozidicrashstate_loadState(const char* stateFilePath);

/// Runs during a crash: no allocation, no locks.
/// Writes the persisted fields to "<path>.tmp" and renames it over `path`, so a crash or kill
/// while writing leaves the previous file whole. False (logged) on failure.
bool dozidicrashstate_saveState(const char* path);

// Application transitions; each does nothing while the monitor is disabled.
void dozidicrashstate_notifyAppActive(bool isActive);
void dozidicrashstate_notifyAppInForeground(bool isInForeground);
void dozidicrashstate_notifyAppTerminate();
/// Runs during a crash: no allocation, no locks.
void dozidicrashstate_notifyAppCrash();

const DozidiCrash_AppState* dozidicrashstate_currentState();

/// The application-state monitor of the registry (enabling it is the launch transition).
const DozidiCrashMonitorAPI* dozidicrashcm_appstate_getAPI();

/// Replaces the source of "now" (seconds since 1970) for tests; null restores the system clock.
/// The function must be safe to call during a crash.
void dozidicrashstate_setTimeSource(double (*now)());
