#pragma once
#include <cstdint>

#include "DozidiCrashMonitorContext.h"

/// The monitors of the crash recorder, one bit each in a monitor mask.
enum DozidiCrashMonitorType : std::uint32_t {
  DozidiCrashMonitorTypeMachException = 0x001,
  DozidiCrashMonitorTypeSignal = 0x002,
  DozidiCrashMonitorTypeCPPException = 0x004,
  DozidiCrashMonitorTypeNSException = 0x008,
  DozidiCrashMonitorTypeUserReported = 0x020,
  DozidiCrashMonitorTypeSystem = 0x040,
  DozidiCrashMonitorTypeApplicationState = 0x080,
  DozidiCrashMonitorTypeZombie = 0x100,
};

/// What the registry can ask of a monitor; any operation may be absent.
struct DozidiCrashMonitorAPI {
  /// Switches the monitor on or off; a call with the current state does nothing.
  void (*setEnabled)(bool isEnabled);
  bool (*isEnabled)();
  /// Runs during a crash: no allocation, no locks. Writes the monitor's facts into the event.
  void (*addContextualInfoToEvent)(DozidiCrash_MonitorContext* eventContext);
};

/// Named masks of the registry's switching rules.
inline constexpr std::uint32_t kDozidiCrashMonitorTypeDebuggerUnsafe = 0x00F;
inline constexpr std::uint32_t kDozidiCrashMonitorTypeDebuggerSafe = 0x1E0;
inline constexpr std::uint32_t kDozidiCrashMonitorTypeAsyncUnsafe = 0x1EC;
inline constexpr std::uint32_t kDozidiCrashMonitorTypeAsyncSafe = 0x003;

/// Stores the callback that receives every handled event (null clears it).
void dozidicrashcm_setEventCallback(void (*onEvent)(DozidiCrash_MonitorContext* eventContext));

/// Switches every monitor of the table and stores what the monitors then say is enabled.
/// Monitors the debugger or an async-only environment rules out stay off.
void dozidicrashcm_setActiveMonitors(std::uint32_t monitorTypes);
std::uint32_t dozidicrashcm_getActiveMonitors();

/// What a catching monitor's crash handler learns when it claims the crash.
enum class DozidiCrashClaim {
  /// This thread handles the crash.
  First,
  /// This thread faulted again while it was handling a crash.
  Recrash,
  /// Another thread is handling a crash: this one must wait for the process to end.
  OtherThread,
};

/// Claims crash handling for the calling thread (an atomic exchange on the handling thread),
/// before any thread is suspended, so that two threads that crash at once never write the same
/// report. Runs during a crash: no allocation, no locks.
DozidiCrashClaim dozidicrashcm_claimCrashHandling();

/// Stops the calling thread for good: used by a thread that crashed while another one handles
/// a crash. Runs during a crash: no allocation, no locks.
[[noreturn]] void dozidicrashcm_parkThread();

/// Called by a catching monitor once the other threads are stopped. True when this is a crash
/// inside crash handling; then every monitor has been switched off.
/// Runs during a crash: no allocation, no locks.
bool dozidicrashcm_notifyFatalExceptionCaptured(bool isAsyncSafeEnvironment);

/// Lets every enabled monitor add its facts, calls the event callback, then switches every
/// monitor off after a fatal event (a user-reported snapshot leaves them on).
/// Runs during a crash: no allocation, no locks.
void dozidicrashcm_handleException(DozidiCrash_MonitorContext* eventContext);
