#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_Signal.h"

#include <execinfo.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashFormat.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashID.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashSignalInfo.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashStackCursor.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashSymbolRebinding.h"

namespace {

constexpr std::size_t kAlternateStackSize = 0x20000;
// The top of the alternate stack that a crash uses (the signal frame and the report writer take
// about 24 KiB), backed by memory at once so that the crash does not stop for page faults.
constexpr std::size_t kAlternateStackBacked = 0x8000;
constexpr int kMaxFatalSignals = 8;

std::atomic<bool> g_isEnabled{false};
char g_eventID[37];
struct sigaction g_previousSignalHandlers[kMaxFatalSignals];
DozidiCrash_MonitorContext g_monitorContext;
DozidiCrashStackCursor g_stackCursor;

// Each thread's alternate stack: taken once and not released when the monitor is switched off,
// because a handler may be running on it then (the registry does that inside the handler). A
// thread the monitor's starter started hands it back when it ends.
thread_local void* t_alternateStack = nullptr;

void handleSignal(int sigNum, siginfo_t* signalInfo, void* userContext) {
  if (g_isEnabled.load()) {
    const DozidiCrashClaim claim = dozidicrashcm_claimCrashHandling();
    if (claim == DozidiCrashClaim::OtherThread) dozidicrashcm_parkThread();

    // A fault while this thread handles a crash: the other threads were asked to stop already
    // (the recrash report waits for them if the first report had not yet).
    DozidiCrashThread* threads = nullptr;
    int threadCount = 0;
    // The other threads are asked to stop, and this thread goes on while they do: it unwinds
    // its own stack (which reads only this thread's stack and the loader's lock-free object
    // lookup), makes its context and writes the first sections of the report. The report waits
    // for them before its threads; the suspension below then only hands out their list.
    if (claim == DozidiCrashClaim::First) dozidicrashmc_beginSuspendEnvironment();
    void* frames[kDozidiCrashMaxBacktraceEntries];
    const int frameCount = ::backtrace(frames, kDozidiCrashMaxBacktraceEntries);
    dozidicrashcm_notifyFatalExceptionCaptured(false);

    alignas(16) char contextBuffer[sizeof(DozidiCrashMachineContext)];
    auto* machineContext = reinterpret_cast<DozidiCrashMachineContext*>(contextBuffer);
    dozidicrashmc_getContextForSignal(userContext, machineContext);
    dozidicrashsc_initWithSignalUnwindFrames(&g_stackCursor, 100, machineContext, frames, frameCount);

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
    if (claim == DozidiCrashClaim::First) dozidicrashmc_suspendEnvironment(&threads, &threadCount);
    if (claim == DozidiCrashClaim::First) dozidicrashmc_resumeEnvironment(threads, threadCount);
    dozidicrash_releaseAsyncCallerInCrash(g_stackCursor.asyncCaller);
    g_stackCursor.asyncCaller = nullptr;
  }
  // The previous action (or the default one) now ends the process.
  raise(sigNum);
}

// Backs the top of a fresh alternate stack with memory: one call that fills in the pages, which
// costs a fraction of taking a page fault on each; where the system cannot, each page is touched.
void backAlternateStackTop(void* area) {
  char* top = static_cast<char*>(area) + (kAlternateStackSize - kAlternateStackBacked);
#if defined(MADV_POPULATE_WRITE)
  if (madvise(top, kAlternateStackBacked, MADV_POPULATE_WRITE) == 0) return;
#endif
  const auto pageSize = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  for (std::size_t offset = 0; offset < kAlternateStackBacked; offset += pageSize) static_cast<volatile char*>(top)[offset] = 0;
}

// Alternate stacks are cut from one mapping, made at the first need, in slots: a thread's start
// then maps nothing (a mapping takes the address space's lock for writing, which stalls the
// threads that start or fault meanwhile) and a thread's end unmaps nothing (an unmapping
// interrupts every processor that runs a thread of the process, to flush its address
// translations). A slot handed back keeps its backed top for the next thread. When every slot is
// taken, a stack is mapped on its own. Slots lie side by side as separate mappings made one after
// the other usually do; none has a guard page.
constexpr int kPooledStacks = 32;
std::atomic<char*> g_stackPool{nullptr};
std::atomic<std::uint32_t> g_freeSlots{~std::uint32_t{0}};  // bit set: the slot is free
std::atomic<std::uint32_t> g_backedSlots{0};                // bit set: the slot's top is backed
static_assert(kPooledStacks <= 32);

char* stackPool() {
  if (char* pool = g_stackPool.load(std::memory_order_acquire)) return pool;
  void* area = mmap(nullptr, kPooledStacks * kAlternateStackSize, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (area == MAP_FAILED) return nullptr;
  char* expected = nullptr;
  if (!g_stackPool.compare_exchange_strong(expected, static_cast<char*>(area), std::memory_order_acq_rel)) {
    munmap(area, kPooledStacks * kAlternateStackSize);
    return expected;
  }
  return static_cast<char*>(area);
}

// A free slot of the pool, else a mapping of its own; null when neither can be had.
void* takeAlternateStack() {
  if (char* pool = stackPool()) {
    std::uint32_t free = g_freeSlots.load(std::memory_order_acquire);
    while (free != 0) {
      const int slot = __builtin_ctz(free);
      if (!g_freeSlots.compare_exchange_weak(free, free & ~(std::uint32_t{1} << slot), std::memory_order_acq_rel)) continue;
      char* area = pool + slot * kAlternateStackSize;
      if ((g_backedSlots.fetch_or(std::uint32_t{1} << slot, std::memory_order_relaxed) & (std::uint32_t{1} << slot)) == 0) {
        backAlternateStackTop(area);
      }
      return area;
    }
  }
  void* area = mmap(nullptr, kAlternateStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) return nullptr;
  backAlternateStackTop(area);
  return area;
}

void giveBackAlternateStack(void* area) {
  char* pool = g_stackPool.load(std::memory_order_acquire);
  char* at = static_cast<char*>(area);
  if (pool != nullptr && at >= pool && at < pool + kPooledStacks * kAlternateStackSize) {
    const auto slot = static_cast<int>((at - pool) / static_cast<std::ptrdiff_t>(kAlternateStackSize));
    g_freeSlots.fetch_or(std::uint32_t{1} << slot, std::memory_order_release);
    return;
  }
  munmap(area, kAlternateStackSize);
}

bool installAlternateStack() {
  if (t_alternateStack != nullptr) return true;
  void* area = takeAlternateStack();
  if (area == nullptr) {
    DOZIDICRASHLOG_ERROR("Failed to allocate signal stack area of size %zu", kAlternateStackSize);
    return false;
  }
  stack_t stack{};
  stack.ss_sp = area;
  stack.ss_size = kAlternateStackSize;
  if (sigaltstack(&stack, nullptr) != 0) {
    DOZIDICRASHLOG_ERROR("signalstack: %s", dozidicrashfmt_errorText(errno));
    giveBackAlternateStack(area);
    return false;
  }
  t_alternateStack = area;
  return true;
}

// Undoes installAlternateStack when the thread ends: the stack goes back to the pool, or is
// unmapped. Refused while the thread runs on it (it then stays); another stack the thread's own
// code put in its place is left in force.
void releaseAlternateStack() {
  if (t_alternateStack == nullptr) return;
  stack_t current{};
  if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_ONSTACK) != 0) return;
  if (current.ss_sp == t_alternateStack && (current.ss_flags & SS_DISABLE) == 0) {
    stack_t disable{};
    disable.ss_flags = SS_DISABLE;
    if (sigaltstack(&disable, nullptr) != 0) return;
  }
  giveBackAlternateStack(t_alternateStack);
  t_alternateStack = nullptr;
}

// ----------------------------------------------------------------------------------------------
// Threads started while the monitor is on get an alternate stack of their own, so that a stack
// overflow on any of them is still caught. Every image's import of pthread_create (std::thread and
// the platform's thread starter come through it too) leads to a starter that maps the stack
// before the thread's body runs and releases it when the thread ends, however it ends.

using PthreadCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

// The function the import slots led to before; written by the rebinding, read by every starter.
void* g_nextPthreadCreate = nullptr;
std::atomic<bool> g_threadStartRebound{false};

struct ThreadStart {
  void* (*body)(void*);
  void* argument;
};

struct AlternateStackForThisThread {
  bool mapped = false;
  AlternateStackForThisThread() {
    // A stack set up before the body runs (a sanitizer runtime does that) is kept.
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) != 0) mapped = installAlternateStack();
  }
  ~AlternateStackForThisThread() {
    if (mapped) releaseAlternateStack();
  }
  AlternateStackForThisThread(const AlternateStackForThisThread&) = delete;
  AlternateStackForThisThread& operator=(const AlternateStackForThisThread&) = delete;
};

void* startWithAlternateStack(void* data) {
  const ThreadStart start = *static_cast<ThreadStart*>(data);
  std::free(data);
  // Its destructor also runs when the body ends the thread by pthread_exit or cancellation.
  AlternateStackForThisThread stack;
  return start.body(start.argument);
}

int createThread(pthread_t* thread, const pthread_attr_t* attributes, void* (*body)(void*), void* argument) {
  const auto next = reinterpret_cast<PthreadCreate>(__atomic_load_n(&g_nextPthreadCreate, __ATOMIC_ACQUIRE));
  // Not seen in practice: the rebinding stores the function before it rewrites any slot.
  if (next == nullptr) return EAGAIN;
  if (!g_isEnabled.load()) return next(thread, attributes, body, argument);
  auto* start = static_cast<ThreadStart*>(std::malloc(sizeof(ThreadStart)));
  if (start == nullptr) return next(thread, attributes, body, argument);
  *start = ThreadStart{body, argument};
  const int result = next(thread, attributes, startWithAlternateStack, start);
  if (result != 0) std::free(start);
  return result;
}

void rebindThreadStart() {
  if (g_threadStartRebound.exchange(true)) return;
  const dozidicrash_rebinding rebinding = {"pthread_create", reinterpret_cast<void*>(&createThread), &g_nextPthreadCreate};
  if (dozidicrash_rebind_symbols(&rebinding, 1) != 0) {
    DOZIDICRASHLOG_ERROR("Threads started from now on have no alternate signal stack");
  }
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
    if (g_isEnabled.load()) rebindThreadStart();
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
