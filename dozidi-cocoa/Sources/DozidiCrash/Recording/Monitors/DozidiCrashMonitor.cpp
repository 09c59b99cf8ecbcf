#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor.h"

#include <atomic>
#include <ctime>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashDebug.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_AppState.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_CPPException.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_MachException.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_NSException.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_Signal.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_System.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_User.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_Zombie.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"

namespace {

struct Monitor {
  std::uint32_t type;
  const DozidiCrashMonitorAPI* (*getAPI)();
};

// The order in which monitors are switched and add their facts to an event.
constexpr Monitor kMonitors[] = {
    {DozidiCrashMonitorTypeMachException, dozidicrashcm_machexception_getAPI},
    {DozidiCrashMonitorTypeSignal, dozidicrashcm_signal_getAPI},
    {DozidiCrashMonitorTypeNSException, dozidicrashcm_nsexception_getAPI},
    {DozidiCrashMonitorTypeZombie, dozidicrashcm_zombie_getAPI},
    {DozidiCrashMonitorTypeCPPException, dozidicrashcm_cppexception_getAPI},
    {DozidiCrashMonitorTypeUserReported, dozidicrashcm_user_getAPI},
    {DozidiCrashMonitorTypeSystem, dozidicrashcm_system_getAPI},
    {DozidiCrashMonitorTypeApplicationState, dozidicrashcm_appstate_getAPI},
};

static_assert(std::atomic<std::uint32_t>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

std::atomic<void (*)(DozidiCrash_MonitorContext*)> g_onExceptionEvent{nullptr};
std::atomic<std::uint32_t> g_activeMonitors{0};
std::atomic<bool> g_requiresAsyncSafety{false};
std::atomic<bool> g_handlingFatalException{false};
std::atomic<bool> g_crashedDuringExceptionHandling{false};
std::atomic<bool> g_debuggerRuleFired{false};
// The thread that handles the crash; 0 while none does.
std::atomic<DozidiCrashThread> g_handlingThread{0};

bool isMonitorEnabled(const DozidiCrashMonitorAPI* api) { return api != nullptr && api->isEnabled != nullptr && api->isEnabled(); }

}  // namespace

void dozidicrashcm_setEventCallback(void (*onEvent)(DozidiCrash_MonitorContext*)) { g_onExceptionEvent.store(onEvent); }

void dozidicrashcm_setActiveMonitors(std::uint32_t monitorTypes) {
  if ((monitorTypes & kDozidiCrashMonitorTypeDebuggerUnsafe) != 0 && dozidicrashdebug_isBeingTraced()) {
    if (!g_debuggerRuleFired.exchange(true)) {
      DOZIDICRASHLOG_ERROR("A debugger is attached: crash monitors that it would disturb stay off");
    }
    monitorTypes &= kDozidiCrashMonitorTypeDebuggerSafe;
  }
  if ((monitorTypes & kDozidiCrashMonitorTypeAsyncUnsafe) != 0 && g_requiresAsyncSafety.load()) {
    monitorTypes &= kDozidiCrashMonitorTypeAsyncSafe;
  }
  std::uint32_t active = 0;
  for (const Monitor& monitor : kMonitors) {
    const DozidiCrashMonitorAPI* api = monitor.getAPI();
    if (api == nullptr) continue;
    if (api->setEnabled != nullptr) api->setEnabled((monitor.type & monitorTypes) != 0);
    if (isMonitorEnabled(api)) active |= monitor.type;
  }
  g_activeMonitors.store(active);
}

std::uint32_t dozidicrashcm_getActiveMonitors() { return g_activeMonitors.load(); }

DozidiCrashClaim dozidicrashcm_claimCrashHandling() {
  const DozidiCrashThread self = dozidicrashthread_self();
  DozidiCrashThread expected = 0;
  if (g_handlingThread.compare_exchange_strong(expected, self)) return DozidiCrashClaim::First;
  return expected == self ? DozidiCrashClaim::Recrash : DozidiCrashClaim::OtherThread;
}

void dozidicrashcm_parkThread() {
  for (;;) {
    timespec pause{1, 0};
    nanosleep(&pause, nullptr);
  }
}

bool dozidicrashcm_notifyFatalExceptionCaptured(bool isAsyncSafeEnvironment) {
  if (isAsyncSafeEnvironment) g_requiresAsyncSafety.store(true);
  if (g_handlingFatalException.exchange(true)) g_crashedDuringExceptionHandling.store(true);
  // A user-reported snapshot does not claim handling; a later fatal event on this thread must
  // still count as the first.
  g_handlingThread.store(dozidicrashthread_self());
  if (g_crashedDuringExceptionHandling.load()) {
    // A further crash now goes straight to the system.
    dozidicrashcm_setActiveMonitors(0);
  }
  return g_crashedDuringExceptionHandling.load();
}

void dozidicrashcm_handleException(DozidiCrash_MonitorContext* context) {
  context->requiresAsyncSafety = g_requiresAsyncSafety.load();
  if (g_crashedDuringExceptionHandling.load()) context->crashedDuringCrashHandling = true;
  for (const Monitor& monitor : kMonitors) {
    const DozidiCrashMonitorAPI* api = monitor.getAPI();
    if (isMonitorEnabled(api) && api->addContextualInfoToEvent != nullptr) api->addContextualInfoToEvent(context);
  }
  if (auto onEvent = g_onExceptionEvent.load()) onEvent(context);

  if (context->currentSnapshotUserReported) {
    g_handlingFatalException.store(false);
    g_handlingThread.store(0);
  } else if (g_handlingFatalException.load() && !g_crashedDuringExceptionHandling.load()) {
    // Puts the platform's previous handlers back before the crash is handed on.
    dozidicrashcm_setActiveMonitors(0);
  }
}
