#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashAsyncCaller.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashCPU.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashStackCursor.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"
#include "platform/kernel/BinaryImages.h"
#include "platform/kernel/SafeMemory.h"
#include "platform/kernel/ThreadSuspension.h"
#include "platform/kernel/Threads.h"

#include <execinfo.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace {

// Depth at which a crashed thread's stack counts as overflowed.
constexpr int kStackOverflowDepth = 150;
// Threads the suspension keeps track of; the context reports the first 100 of them.
constexpr int kMaxSuspendedThreads = 512;
// Passes of list-and-stop: a thread started during one pass is caught by the next.
constexpr int kSuspendPasses = 3;

DozidiCrashThread gSuspendedList[kMaxSuspendedThreads];
kernel::ThreadId gListScratch[kMaxSuspendedThreads];
bool gStoppedScratch[kMaxSuspendedThreads];
// The suspension's last listing of the threads, which found no thread it had not stopped: while
// they stay stopped it is what a new listing would give. Its length, or -1 without one.
std::atomic<int> gSettledListCount{-1};
// A first pass begun by dozidicrashmc_beginSuspendEnvironment: its requests, the thread that
// made them (0 when none is pending), how many threads it listed and whether the list was cut.
kernel::SuspensionRequest gBegunRequest;
std::atomic<DozidiCrashThread> gBegunBy{0};
int gBegunCount = 0;
bool gBegunCut = false;
// A crashed context made by the thread that began a suspension before that suspension finished:
// its thread list is filled once the threads have stopped.
DozidiCrashMachineContext* gContextAwaitingThreads = nullptr;
// A suspension that dozidicrashmc_finishSuspendEnvironment completed: the thread that did it (0
// when none is pending) and the length of its list, for dozidicrashmc_suspendEnvironment to hand out.
std::atomic<DozidiCrashThread> gFinishedBy{0};
int gFinishedCount = 0;
// The task folder, opened at normal time so that a crash lists the threads without opening and
// closing it (two costly path walks through /proc), and counts them with one fstat. A forked
// child inherits its parent's folder, so only the process that opened it uses it; one lister at
// a time, as a listing seeks the shared descriptor. Its identity tells whether the program closed
// the descriptor since and the number now names another file: then the folder is opened anew.
std::atomic<int> gTaskFolder{-1};
std::atomic<pid_t> gTaskFolderOwner{0};
std::atomic<bool> gTaskFolderBusy{false};
kernel::FileIdentity gTaskFolderIdentity;

// The kept folder when this process may use it now, else -1; a caller that got it gives it back
// with releaseTaskFolder.
int takeTaskFolder() {
  const int folder = gTaskFolder.load(std::memory_order_acquire);
  if (folder < 0 || gTaskFolderOwner.load(std::memory_order_relaxed) != kernel::currentProcessId()) return -1;
  return gTaskFolderBusy.exchange(true, std::memory_order_acquire) ? -1 : folder;
}
void releaseTaskFolder(int folder) {
  if (folder >= 0) gTaskFolderBusy.store(false, std::memory_order_release);
}

// kernel::listThreads, through the kept folder where it still is the folder it was.
int listAllThreads(kernel::ThreadId* out, int capacity) {
  const int folder = takeTaskFolder();
  const bool kept = folder >= 0 && kernel::countThreadsIn(folder, &gTaskFolderIdentity) >= 0;
  const int count = kept ? kernel::listThreadsIn(folder, out, capacity) : kernel::listThreads(out, capacity);
  releaseTaskFolder(folder);
  return count;
}

// How many threads the process has now; -1 when the kept folder cannot tell.
int countAllThreads() {
  const int folder = takeTaskFolder();
  const int count = folder >= 0 ? kernel::countThreadsIn(folder, &gTaskFolderIdentity) : -1;
  releaseTaskFolder(folder);
  return count;
}

void fillThreadList(DozidiCrashMachineContext* context) {
  // The threads are still stopping: the list is taken once they have stopped.
  if (gBegunBy.load(std::memory_order_relaxed) == dozidicrashthread_self()) {
    context->threadCount = 0;
    gContextAwaitingThreads = context;
    return;
  }
  kernel::ThreadId threads[kDozidiCrashMaxContextThreads];
  const int settled = gSettledListCount.load(std::memory_order_acquire);
  int count = settled;
  if (count >= 0) {
    for (int i = 0; i < count && i < kDozidiCrashMaxContextThreads; ++i) threads[i] = gListScratch[i];
  } else {
    count = listAllThreads(threads, kDozidiCrashMaxContextThreads);
  }
  if (count < 0) {
    DOZIDICRASHLOG_ERROR("task_threads: %s", "cannot read /proc/self/task");
    context->threadCount = 0;
    return;
  }
  if (count > kDozidiCrashMaxContextThreads) {
    DOZIDICRASHLOG_ERROR("Thread count %d is higher than maximum of %d", count, kDozidiCrashMaxContextThreads);
    count = kDozidiCrashMaxContextThreads;
  }
  for (int i = 0; i < count; ++i) context->allThreads[i] = static_cast<DozidiCrashThread>(threads[i]);
  context->threadCount = count;
}

void finishCrashedContext(DozidiCrashMachineContext* context) {
  DozidiCrashStackCursor cursor;
  dozidicrashsc_initWithMachineContext(&cursor, kStackOverflowDepth, context);
  while (cursor.advanceCursor(&cursor)) {
  }
  context->isStackOverflow = cursor.state.hasGivenUp;
  // A crashed context is built in the crash path, where nothing may be freed.
  dozidicrash_releaseAsyncCallerInCrash(cursor.asyncCaller);
  cursor.asyncCaller = nullptr;
  fillThreadList(context);
}

}  // namespace

bool dozidicrashmc_prepare() {
  kernel::prepareSafeReads();
  // The suspension's lists are zero-filled static memory: the first write to each of their
  // pages is a page fault (tens of microseconds on a virtual machine), paid here, not in a crash.
  kernel::touchPagesInPlace(gSuspendedList, sizeof gSuspendedList);
  kernel::touchPagesInPlace(gListScratch, sizeof gListScratch);
  kernel::touchPagesInPlace(gStoppedScratch, sizeof gStoppedScratch);
  kernel::touchPagesInPlace(&gBegunRequest, sizeof gBegunRequest);
  if (gTaskFolder.load(std::memory_order_acquire) < 0 || gTaskFolderOwner.load() != kernel::currentProcessId()) {
    const int folder = kernel::openThreadList();
    if (folder >= 0 && kernel::identifyThreadList(folder, &gTaskFolderIdentity)) {
      gTaskFolderOwner.store(kernel::currentProcessId(), std::memory_order_relaxed);
      gTaskFolder.store(folder, std::memory_order_release);
    } else if (folder >= 0) {
      ::close(folder);
    }
  }
  // The files' full symbol tables are read on the cached-data thread, not here: reading and
  // sorting them for every loaded library is most of the cost of an install. A crash before they
  // are ready names frames from the images' dynamic symbol tables, read in place.
  // The first backtrace loads the unwinder library, which allocates: do it now, not in a crash.
  void* frames[4];
  ::backtrace(frames, 4);
  return kernel::installThreadSuspension();
}

int dozidicrashmc_contextSize() { return static_cast<int>(sizeof(DozidiCrashMachineContext)); }

DozidiCrashThread dozidicrashthread_self() { return static_cast<DozidiCrashThread>(kernel::currentThreadId()); }

bool dozidicrashthread_getThreadName(DozidiCrashThread thread, char* buffer, int length) {
  if (buffer == nullptr || length < 1) return false;
  return kernel::readThreadName(static_cast<kernel::ThreadId>(thread), buffer, static_cast<std::size_t>(length));
}

bool dozidicrashmc_getContextForThread(DozidiCrashThread thread, DozidiCrashMachineContext* context, bool isCrashedContext) {
  std::memset(context, 0, sizeof *context);
  context->thisThread = thread;
  context->isCrashedContext = isCrashedContext;
  context->isSignalContext = false;
  context->isCurrentThread = thread == dozidicrashthread_self();
  if (!context->isCurrentThread) dozidicrashcpu_getState(context);
  if (isCrashedContext) finishCrashedContext(context);
  return true;
}

bool dozidicrashmc_getContextForSignal(void* userContext, DozidiCrashMachineContext* context) {
  std::memset(context, 0, sizeof *context);
  if (userContext != nullptr) {
    std::memcpy(&context->machineContext, &static_cast<ucontext_t*>(userContext)->uc_mcontext, sizeof context->machineContext);
    // The floating-point area belongs to the signal frame; the report does not use it.
    context->machineContext.fpregs = nullptr;
  }
  context->thisThread = dozidicrashthread_self();
  context->isCurrentThread = true;
  context->isCrashedContext = true;
  context->isSignalContext = true;
  finishCrashedContext(context);
  return true;
}

DozidiCrashThread dozidicrashmc_getThreadFromContext(const DozidiCrashMachineContext* context) { return context->thisThread; }

int dozidicrashmc_getThreadCount(const DozidiCrashMachineContext* context) { return context->threadCount; }

DozidiCrashThread dozidicrashmc_getThreadAtIndex(const DozidiCrashMachineContext* context, int index) {
  return index >= 0 && index < context->threadCount ? context->allThreads[index] : 0;
}

int dozidicrashmc_indexOfThread(const DozidiCrashMachineContext* context, DozidiCrashThread thread) {
  for (int i = 0; i < context->threadCount; ++i) {
    if (context->allThreads[i] == thread) return i;
  }
  return -1;
}

bool dozidicrashmc_isCrashedContext(const DozidiCrashMachineContext* context) { return context->isCrashedContext; }

bool dozidicrashmc_canHaveCPUState(const DozidiCrashMachineContext* context) {
  return !context->isCurrentThread || context->isSignalContext;
}

bool dozidicrashmc_hasValidExceptionRegisters(const DozidiCrashMachineContext* context) {
  return dozidicrashmc_canHaveCPUState(context) && dozidicrashmc_isCrashedContext(context);
}

void dozidicrashmc_beginSuspendEnvironment() {
  gBegunBy.store(0, std::memory_order_relaxed);
  gFinishedBy.store(0, std::memory_order_relaxed);
  gContextAwaitingThreads = nullptr;
  gSettledListCount.store(-1, std::memory_order_release);
  // Installing the handler is only sigaction calls, which a crash handler may make.
  kernel::installThreadSuspension();
  int count = listAllThreads(gListScratch, kMaxSuspendedThreads);
  // Without a list the suspension lists again itself, and says so.
  if (count < 0) return;
  gBegunCut = count > kMaxSuspendedThreads;
  if (gBegunCut) count = kMaxSuspendedThreads;
  for (int i = 0; i < count; ++i) gSuspendedList[i] = static_cast<DozidiCrashThread>(gListScratch[i]);
  gBegunCount = count;
  kernel::requestSuspension(gListScratch, count, gStoppedScratch, &gBegunRequest);
  gBegunBy.store(dozidicrashthread_self(), std::memory_order_relaxed);
}

namespace {

// After the first pass, whose listing gListScratch holds: when every listed thread but the
// caller stopped and the process has no more threads than were listed, no thread started since
// (only a running thread can start one), so that listing stands and is not read again.
bool settledByCount(bool allStopped, int listed) {
  if (!allStopped || listed >= kMaxSuspendedThreads || countAllThreads() != listed) return false;
  gSettledListCount.store(listed, std::memory_order_release);
  return true;
}

// Waits for the threads that a begun suspension asked to stop (or lists and stops them all when
// none was begun), lists again until no new thread shows up, and returns the list's length (-1
// without a list).
int stopAllThreads() {
  const bool begun = gBegunBy.load(std::memory_order_relaxed) == dozidicrashthread_self();
  gBegunBy.store(0, std::memory_order_relaxed);
  if (!begun) {
    gSettledListCount.store(-1, std::memory_order_release);
    kernel::installThreadSuspension();
  }
  int known = 0;
  bool allStopped = true;
  bool settled = false;  // a last pass found no thread it had not seen
  for (int pass = 0; pass < kSuspendPasses; ++pass) {
    if (pass == 0 && begun) {
      // The first pass's requests went out already (gListScratch and gSuspendedList hold its
      // list): only its wait is left.
      if (gBegunCut) allStopped = false;
      kernel::awaitSuspension(gListScratch, gBegunCount, gStoppedScratch, &gBegunRequest);
      for (int i = 0; i < gBegunCount; ++i) {
        if (!gStoppedScratch[i] && gListScratch[i] != kernel::currentThreadId()) {
          DOZIDICRASHLOG_ERROR("thread_suspend (%08x): %s", static_cast<unsigned>(gListScratch[i]),
                               "no answer to the suspend signal");
          allStopped = false;
        }
      }
      known = gBegunCount;
      if (settledByCount(allStopped, known)) {
        settled = true;
        break;
      }
      continue;
    }
    int count = listAllThreads(gListScratch, kMaxSuspendedThreads);
    if (count < 0) {
      DOZIDICRASHLOG_ERROR("task_threads: %s", "cannot read /proc/self/task");
      if (pass == 0) return -1;
      break;
    }
    if (count > kMaxSuspendedThreads) {
      count = kMaxSuspendedThreads;
      allStopped = false;
    }
    // Threads not seen in an earlier pass go to the end of the list.
    int added = 0;
    for (int i = 0; i < count; ++i) {
      bool seen = false;
      for (int k = 0; k < known && !seen; ++k) seen = gSuspendedList[k] == static_cast<DozidiCrashThread>(gListScratch[i]);
      if (!seen) gSuspendedList[known + added++] = static_cast<DozidiCrashThread>(gListScratch[i]);
    }
    if (added == 0) {
      settled = true;
      if (count < kMaxSuspendedThreads) gSettledListCount.store(count, std::memory_order_release);
      break;
    }
    for (int i = 0; i < added; ++i) gListScratch[i] = static_cast<kernel::ThreadId>(gSuspendedList[known + i]);
    kernel::suspendThreads(gListScratch, added, gStoppedScratch);
    for (int i = 0; i < added; ++i) {
      if (!gStoppedScratch[i] && gListScratch[i] != kernel::currentThreadId()) {
        DOZIDICRASHLOG_ERROR("thread_suspend (%08x): %s", static_cast<unsigned>(gListScratch[i]), "no answer to the suspend signal");
        allStopped = false;
      }
    }
    known += added;
    if (pass == 0 && settledByCount(allStopped, known)) {
      settled = true;
      break;
    }
  }
  // With every thread stopped no image can come or go until they resume: the image list is
  // checked once here instead of at each lookup of the report.
  if (allStopped && settled) kernel::holdImageList();
  return known;
}

// The crashed context that waited for the threads to stop gets its list now.
void fillAwaitingContext() {
  DozidiCrashMachineContext* context = gContextAwaitingThreads;
  gContextAwaitingThreads = nullptr;
  if (context != nullptr) fillThreadList(context);
}

}  // namespace

void dozidicrashmc_finishSuspendEnvironment() {
  const DozidiCrashThread self = dozidicrashthread_self();
  if (gBegunBy.load(std::memory_order_relaxed) != self) return;
  gFinishedCount = stopAllThreads();
  gFinishedBy.store(self, std::memory_order_relaxed);
  fillAwaitingContext();
}

void dozidicrashmc_suspendEnvironment(DozidiCrashThread** threadsOut, int* countOut) {
  *threadsOut = nullptr;
  *countOut = 0;
  int count = 0;
  if (gFinishedBy.load(std::memory_order_relaxed) == dozidicrashthread_self()) {
    count = gFinishedCount;
  } else {
    count = stopAllThreads();
    fillAwaitingContext();
  }
  gFinishedBy.store(0, std::memory_order_relaxed);
  if (count < 0) return;
  *threadsOut = gSuspendedList;
  *countOut = count;
}

void dozidicrashmc_resumeEnvironment(DozidiCrashThread* threads, int count) {
  if (threads == nullptr || count == 0) {
    DOZIDICRASHLOG_ERROR("we should call dozidicrashmc_suspendEnvironment() first");
    return;
  }
  gSettledListCount.store(-1, std::memory_order_release);
  kernel::releaseImageList();
  kernel::resumeThreads();
}
