#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_MachException.h"

#include <atomic>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMach.h"

namespace {

std::atomic<bool> g_isEnabled{false};

void setEnabled(bool isEnabled) { g_isEnabled.store(isEnabled); }
bool isEnabled() { return g_isEnabled.load(); }

void addContextualInfoToEvent(DozidiCrash_MonitorContext* eventContext) {
  if (eventContext->crashType == DozidiCrashMonitorTypeMachException) return;
  eventContext->mach.type = eventContext->crashType == DozidiCrashMonitorTypeSignal
                                ? dozidicrashmach_machExceptionForSignal(eventContext->signal.signum)
                                : kDozidiCrashExcCrash;
}

constexpr DozidiCrashMonitorAPI kAPI = {setEnabled, isEnabled, addContextualInfoToEvent};

}  // namespace

const DozidiCrashMonitorAPI* dozidicrashcm_machexception_getAPI() { return &kAPI; }

bool dozidicrashcm_isReservedThread(DozidiCrashThread) { return false; }
