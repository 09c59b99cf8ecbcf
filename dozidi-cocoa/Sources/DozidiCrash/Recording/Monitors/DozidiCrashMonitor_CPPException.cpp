#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_CPPException.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>
#include <typeinfo>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashID.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashStackCursor.h"
#include "platform/runtime/NSException.h"

namespace {

constexpr int kDescriptionBufferSize = 1000;

std::atomic<bool> g_isEnabled{false};
std::atomic<bool> g_captureNextStackTrace{false};
std::terminate_handler g_originalTerminateHandler = nullptr;
char g_eventID[37];
DozidiCrash_MonitorContext g_monitorContext;

// The stack of the last throw on each thread: a throw and catch elsewhere never replaces the
// stack of the exception that is about to terminate this thread.
thread_local DozidiCrashStackCursor t_throwCursor;
thread_local bool t_throwCursorSet = false;

void describeException(char* descriptionBuffer) {
  descriptionBuffer[0] = '\0';
  try {
    throw;
  } catch (const std::exception& exc) {
    std::strncpy(descriptionBuffer, exc.what(), kDescriptionBufferSize - 1);
    descriptionBuffer[kDescriptionBufferSize - 1] = '\0';
  }
#define CATCH_VALUE(TYPE, PRINTFTYPE)                                               \
  catch (TYPE value) {                                                              \
    std::snprintf(descriptionBuffer, kDescriptionBufferSize, "%" #PRINTFTYPE, value); \
  }
  CATCH_VALUE(char, d)
  CATCH_VALUE(short, d)
  CATCH_VALUE(int, d)
  CATCH_VALUE(long, ld)
  CATCH_VALUE(long long, lld)
  CATCH_VALUE(unsigned char, u)
  CATCH_VALUE(unsigned short, u)
  CATCH_VALUE(unsigned int, u)
  CATCH_VALUE(unsigned long, lu)
  CATCH_VALUE(unsigned long long, llu)
  CATCH_VALUE(float, f)
  CATCH_VALUE(double, f)
  CATCH_VALUE(long double, Lf)
  // Also catches a thrown char*: a handler may add const to the pointed-to type.
  CATCH_VALUE(const char*, s)
  catch (...) {
  }
#undef CATCH_VALUE
}

void cppExceptionTerminateHandler() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  // The object runtime's exceptions are recorded by their own monitor, through the runtime's
  // uncaught-exception handler that the previous terminate handler calls.
  if (type != nullptr && *type == typeid(runtime::NSException)) {
    if (g_originalTerminateHandler != nullptr) g_originalTerminateHandler();
    std::abort();
  }
  const DozidiCrashClaim claim = dozidicrashcm_claimCrashHandling();
  if (claim == DozidiCrashClaim::OtherThread) dozidicrashcm_parkThread();
  const char* name = type != nullptr ? type->name() : nullptr;

  // The description is formatted before the other threads are stopped: formatting may allocate,
  // and a stopped thread may hold the allocator's lock.
  char descriptionBuffer[kDescriptionBufferSize];
  descriptionBuffer[0] = '\0';
  g_captureNextStackTrace.store(false);  // the rethrow below must not replace the recorded stack
  if (type != nullptr) describeException(descriptionBuffer);
  const char* description = descriptionBuffer[0] != '\0' ? descriptionBuffer : nullptr;
  g_captureNextStackTrace.store(g_isEnabled.load());

  DozidiCrashThread* threads = nullptr;
  int threadCount = 0;
  if (claim == DozidiCrashClaim::First) dozidicrashmc_suspendEnvironment(&threads, &threadCount);
  dozidicrashcm_notifyFatalExceptionCaptured(false);

  alignas(16) char contextBuffer[sizeof(DozidiCrashMachineContext)];
  auto* machineContext = reinterpret_cast<DozidiCrashMachineContext*>(contextBuffer);
  dozidicrashmc_getContextForThread(dozidicrashthread_self(), machineContext, true);
  if (!t_throwCursorSet) {
    dozidicrashsc_initCursor(&t_throwCursor, nullptr, nullptr);
    t_throwCursorSet = true;
  }
  DozidiCrash_MonitorContext* crashContext = &g_monitorContext;
  std::memset(crashContext, 0, sizeof(*crashContext));
  crashContext->crashType = DozidiCrashMonitorTypeCPPException;
  crashContext->eventID = g_eventID;
  crashContext->registersAreValid = false;
  crashContext->stackCursor = &t_throwCursor;
  crashContext->CPPException.name = name;
  crashContext->exceptionName = name;
  crashContext->crashReason = description;
  crashContext->offendingMachineContext = machineContext;
  dozidicrashcm_handleException(crashContext);

  if (claim == DozidiCrashClaim::First) dozidicrashmc_resumeEnvironment(threads, threadCount);
  if (g_originalTerminateHandler != nullptr) g_originalTerminateHandler();
  std::abort();
}

void setEnabled(bool isEnabled) {
  if (isEnabled == g_isEnabled.load()) return;
  g_isEnabled.store(isEnabled);
  if (isEnabled) {
    dozidicrashid_generate(g_eventID);
    g_originalTerminateHandler = std::set_terminate(cppExceptionTerminateHandler);
  } else {
    std::set_terminate(g_originalTerminateHandler);
  }
  g_captureNextStackTrace.store(isEnabled);
}

bool isEnabled() { return g_isEnabled.load(); }

constexpr DozidiCrashMonitorAPI kAPI = {setEnabled, isEnabled, nullptr};

}  // namespace

const DozidiCrashMonitorAPI* dozidicrashcm_cppexception_getAPI() { return &kAPI; }

void dozidicrashcm_cppexception_noteThrow() {
  if (!g_captureNextStackTrace.load()) return;
  if (t_throwCursorSet) dozidicrash_releaseAsyncCaller(t_throwCursor.asyncCaller);
  // Skips this function and the interposed throw entry, so the first frame is the thrower's.
  dozidicrashsc_initSelfThread(&t_throwCursor, 2);
  t_throwCursorSet = true;
}
