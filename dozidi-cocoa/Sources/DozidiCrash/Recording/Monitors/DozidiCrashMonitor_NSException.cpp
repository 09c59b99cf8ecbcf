#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_NSException.h"

#include <atomic>
#include <cstring>
#include <string>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashID.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashStackCursor.h"

namespace {

constexpr int kMaxReturnAddresses = 512;

std::atomic<bool> g_isEnabled{false};
std::atomic<runtime::NSUncaughtExceptionHandler*> g_previousUncaughtExceptionHandler{nullptr};
DozidiCrash_MonitorContext g_monitorContext;

void handleException(runtime::NSException* exception, bool currentSnapshotUserReported) {
  if (!g_isEnabled.load()) return;
  if (!currentSnapshotUserReported && dozidicrashcm_claimCrashHandling() == DozidiCrashClaim::OtherThread) {
    dozidicrashcm_parkThread();
  }

  // Everything that allocates happens before the other threads are stopped: one of them may
  // hold the allocator's lock.
  std::uintptr_t callstack[kMaxReturnAddresses];
  const auto& addresses = exception->callStackReturnAddresses();
  int callstackCount = 0;
  for (std::uintptr_t address : addresses) {
    if (callstackCount == kMaxReturnAddresses) break;
    callstack[callstackCount++] = address;
  }
  const std::string userInfo = foundation::Value(exception->userInfo()).description();
  char eventID[37];
  dozidicrashid_generate(eventID);

  DozidiCrashThread* threads = nullptr;
  int threadCount = 0;
  dozidicrashmc_suspendEnvironment(&threads, &threadCount);
  dozidicrashcm_notifyFatalExceptionCaptured(false);

  alignas(16) char contextBuffer[sizeof(DozidiCrashMachineContext)];
  auto* machineContext = reinterpret_cast<DozidiCrashMachineContext*>(contextBuffer);
  dozidicrashmc_getContextForThread(dozidicrashthread_self(), machineContext, true);
  DozidiCrashStackCursor cursor;
  dozidicrashsc_initWithBacktrace(&cursor, callstack, callstackCount, 0);

  DozidiCrash_MonitorContext* crashContext = &g_monitorContext;
  std::memset(crashContext, 0, sizeof(*crashContext));
  crashContext->crashType = DozidiCrashMonitorTypeNSException;
  crashContext->eventID = eventID;
  crashContext->offendingMachineContext = machineContext;
  crashContext->registersAreValid = false;
  crashContext->NSException.name = exception->name().c_str();
  crashContext->NSException.userInfo = userInfo.c_str();
  crashContext->exceptionName = crashContext->NSException.name;
  crashContext->crashReason = exception->reason().c_str();
  crashContext->stackCursor = &cursor;
  crashContext->currentSnapshotUserReported = currentSnapshotUserReported;
  dozidicrashcm_handleException(crashContext);

  if (currentSnapshotUserReported) dozidicrashmc_resumeEnvironment(threads, threadCount);
  if (auto previous = g_previousUncaughtExceptionHandler.load()) previous(exception);
  dozidicrash_releaseAsyncCaller(cursor.asyncCaller);
}

void setEnabled(bool isEnabled) {
  if (isEnabled == g_isEnabled.load()) return;
  g_isEnabled.store(isEnabled);
  if (isEnabled) {
    g_previousUncaughtExceptionHandler.store(runtime::NSGetUncaughtExceptionHandler());
    runtime::NSSetUncaughtExceptionHandler(dozidicrashcm_nsexception_handleUncaughtException);
  } else {
    runtime::NSSetUncaughtExceptionHandler(g_previousUncaughtExceptionHandler.load());
  }
}

bool isEnabled() { return g_isEnabled.load(); }

constexpr DozidiCrashMonitorAPI kAPI = {setEnabled, isEnabled, nullptr};

}  // namespace

const DozidiCrashMonitorAPI* dozidicrashcm_nsexception_getAPI() { return &kAPI; }

void dozidicrashcm_nsexception_handleUncaughtException(runtime::NSException* exception) {
  handleException(exception, false);
}

void dozidicrashcm_nsexception_handleCurrentSnapshotUserReportedException(runtime::NSException* exception) {
  handleException(exception, true);
}
