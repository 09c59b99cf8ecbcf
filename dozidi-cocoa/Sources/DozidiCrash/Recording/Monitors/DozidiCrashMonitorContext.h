#pragma once
#include <cstdint>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashSystemFacts.h"

struct DozidiCrashMachineContext;
struct DozidiCrashStackCursor;

/// The crash event record: a catching monitor fills it, every enabled monitor adds its facts,
/// and the report writer reads it. Texts point into buffers owned by the monitors; the record
/// itself lives in static storage of the catching monitor, so filling it allocates nothing.
struct DozidiCrash_MonitorContext {
  const char* eventID;  ///< 36-character UUID text
  bool currentSnapshotUserReported;
  bool requiresAsyncSafety;
  bool handlingCrash;
  bool crashedDuringCrashHandling;
  bool registersAreValid;
  bool isStackOverflow;
  DozidiCrashMachineContext* offendingMachineContext;
  std::uint64_t faultAddress;
  std::uint32_t crashType;  ///< one DozidiCrashMonitorType bit
  const char* exceptionName;
  const char* crashReason;
  DozidiCrashStackCursor* stackCursor;

  struct {
    std::int32_t type;
    std::int64_t code;
    std::int64_t subcode;
  } mach;

  struct {
    const char* name;
    const char* userInfo;
  } NSException;

  struct {
    const char* name;
  } CPPException;

  struct {
    const void* userContext;
    std::int32_t signum;
    std::int32_t sigcode;
  } signal;

  struct {
    const char* name;
    const char* language;
    const char* lineOfCode;
    const char* customStackTrace;
  } userException;

  /// The application-state monitor's facts.
  struct {
    double activeDurationSinceLastCrash;
    double backgroundDurationSinceLastCrash;
    std::int32_t launchesSinceLastCrash;
    std::int32_t sessionsSinceLastCrash;
    double activeDurationSinceLaunch;
    double backgroundDurationSinceLaunch;
    std::int32_t sessionsSinceLaunch;
    bool crashedLastLaunch;
    bool crashedThisLaunch;
    double appStateTransitionTime;
    bool applicationIsActive;
    bool applicationIsInForeground;
  } AppState;

  /// The system monitor's facts, gathered when it is enabled; the memory figures per event.
  DozidiCrashSystemFacts System;

  struct {
    std::uint64_t address;
    const char* name;
    const char* reason;
  } ZombieException;

  const char* consoleLogPath;
};
