#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_Signal.h"

#include <sys/mman.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashFormat.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashID.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashSignalInfo.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashStackCursor.h"

namespace {

constexpr std::size_t kAlternateStackSize = 0x20000;
constexpr int kMaxFatalSignals = 8;

std::atomic<bool> g_isEnabled{false};
char g_eventID[37];
struct sigaction g_previousSignalHandlers[kMaxFatalSignals];
DozidiCrash_MonitorContext g_monitorContext;
DozidiCrashStackCursor g_stackCursor;

// Each thread's alternate stack: mapped once and never released, because a handler may be
// running on it when the monitor is switched off (the registry does that inside the handler).
thread_local void* t_alternateStack = nullptr;

void handleSignal(int sigNum, siginfo_t* signalInfo, void* userContext) {
  if (g_isEnabled.load()) {
    const DozidiCrashClaim claim = dozidicrashcm_claimCrashHandling();
    if (claim == DozidiCrashClaim::OtherThread) dozidicrashcm_parkThread();

    // A fault while this thread handles a crash: the other threads are stopped already.
    DozidiCrashThread* threads = nullptr;
    int threadCount = 0;
    if (claim == DozidiCrashClaim::First) dozidicrashmc_suspendEnvironment(&threads, &threadCount);
    dozidicrashcm_notifyFatalExceptionCaptured(false);

    alignas(16) char contextBuffer[sizeof(DozidiCrashMachineContext)];
    auto* machineContext = reinterpret_cast<DozidiCrashMachineContext*>(contextBuffer);
    dozidicrashmc_getContextForSignal(userContext, machineContext);
    dozidicrashsc_initWithSignalUnwind(&g_stackCursor, 100, machineContext);

    DozidiCrash_MonitorContext* crashContext = &g_monitorContext;
    std::memset(crashContext, 0, sizeof(*crashContext));
    crashContext->crashType = DozidiCrashMonitorTypeSignal;
    crashContext->eventID = g_eventID;
    crashContext->registersAreValid = true;
    crashContext->offendingMachineContext = machineContext;
    crashContext->faultAddress = reinterpret_cast<std::uintptr_t>(signalInfo->si_addr);
    crashContext->signal.userContext = userContext;
    crashContext->signal.signum = signalInfo->si_signo;
    crashContext->signal.sigcode = signalInfo->si_code;
    crashContext->stackCursor = &g_stackCursor;

    dozidicrashcm_handleException(crashContext);
    if (claim == DozidiCrashClaim::First) dozidicrashmc_resumeEnvironment(threads, threadCount);
    dozidicrash_releaseAsyncCallerInCrash(g_stackCursor.asyncCaller);
    g_stackCursor.asyncCaller = nullptr;
  }
  // The previous action (or the default one) now ends the process.
  raise(sigNum);
}

bool installAlternateStack() {
  if (t_alternateStack != nullptr) return true;
  void* area = mmap(nullptr, kAlternateStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) {
    DOZIDICRASHLOG_ERROR("Failed to allocate signal stack area of size %zu", kAlternateStackSize);
    return false;
  }
  stack_t stack{};
  stack.ss_sp = area;
  stack.ss_size = kAlternateStackSize;
  if (sigaltstack(&stack, nullptr) != 0) {
    DOZIDICRASHLOG_ERROR("signalstack: %s", dozidicrashfmt_errorText(errno));
    munmap(area, kAlternateStackSize);
    return false;
  }
  t_alternateStack = area;
  return true;
}

bool installSignalHandler() {
  if (!installAlternateStack()) return false;
  const int* fatalSignals = dozidicrashsignal_fatalSignals();
  const int fatalSignalsCount = dozidicrashsignal_numFatalSignals();

  struct sigaction action {};
  // SA_NODEFER lets a fault inside the handler enter it again, so that the recrash is recorded
  // instead of the kernel ending the process at once.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  action.sa_sigaction = &handleSignal;

  for (int i = 0; i < fatalSignalsCount; ++i) {
    if (sigaction(fatalSignals[i], &action, &g_previousSignalHandlers[i]) != 0) {
      char sigNameBuff[30];
      const char* sigName = dozidicrashsignal_signalName(fatalSignals[i]);
      if (sigName == nullptr) {
        dozidicrashfmt_format(sigNameBuff, sizeof(sigNameBuff), "%d", fatalSignals[i]);
        sigName = sigNameBuff;
      }
      DOZIDICRASHLOG_ERROR("sigaction (%s): %s", sigName, dozidicrashfmt_errorText(errno));
      for (i--; i >= 0; i--) sigaction(fatalSignals[i], &g_previousSignalHandlers[i], nullptr);
      return false;
    }
    // A signal the app ignores stays ignored.
    if (g_previousSignalHandlers[i].sa_handler == SIG_IGN) {
      sigaction(fatalSignals[i], &g_previousSignalHandlers[i], nullptr);
    }
  }
  return true;
}

void uninstallSignalHandler() {
  const int* fatalSignals = dozidicrashsignal_fatalSignals();
  const int fatalSignalsCount = dozidicrashsignal_numFatalSignals();
  for (int i = 0; i < fatalSignalsCount; ++i) sigaction(fatalSignals[i], &g_previousSignalHandlers[i], nullptr);
}

void setEnabled(bool isEnabled) {
  if (isEnabled == g_isEnabled.load()) return;
  if (isEnabled) {
    dozidicrashid_generate(g_eventID);
    // A monitor that could not install says so: it stays off.
    g_isEnabled.store(installSignalHandler());
  } else {
    g_isEnabled.store(false);
    uninstallSignalHandler();
  }
}

bool isEnabled() { return g_isEnabled.load(); }

void addContextualInfoToEvent(DozidiCrash_MonitorContext* eventContext) {
  if (eventContext->crashType != DozidiCrashMonitorTypeSignal &&
      eventContext->crashType != DozidiCrashMonitorTypeMachException) {
    eventContext->signal.signum = SIGABRT;
  }
}

constexpr DozidiCrashMonitorAPI kAPI = {setEnabled, isEnabled, addContextualInfoToEvent};

}  // namespace

const DozidiCrashMonitorAPI* dozidicrashcm_signal_getAPI() { return &kAPI; }

bool dozidicrashcm_signal_installAlternateStackForThisThread() { return installAlternateStack(); }
