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
