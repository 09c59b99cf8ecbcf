#pragma once
// The register state of one thread, the process's thread list, and stopping the other threads
// while a crash is handled. Threads are kernel thread ids.

#include "platform/kernel/ThreadState.h"

#include <cstdint>

/// A thread of this process: its kernel thread id.
using DozidiCrashThread = std::uint32_t;

/// How many threads a crashed context lists.
inline constexpr int kDozidiCrashMaxContextThreads = 100;

/// Registers and facts of one thread. Callers keep it on their stack
/// (`dozidicrashmc_contextSize` bytes).
struct DozidiCrashMachineContext {
  DozidiCrashThread thisThread;
  DozidiCrashThread allThreads[kDozidiCrashMaxContextThreads];
  int threadCount;
  bool isCrashedContext;
  bool isCurrentThread;
  /// A stack walk of the thread reached the depth limit of 150.
  bool isStackOverflow;
  /// The registers came from a signal's user context.
  bool isSignalContext;
  /// The Linux machine context (general registers and the kernel's fault information).
  kernel::ThreadState machineContext;
};

/// Runs during a crash: no allocation, no locks.
int dozidicrashmc_contextSize();

/// Runs during a crash: no allocation, no locks.
DozidiCrashThread dozidicrashthread_self();

/// The thread's name as the kernel keeps it (at most 15 bytes). True on success.
/// Runs during a crash: no allocation, no locks.
bool dozidicrashthread_getThreadName(DozidiCrashThread thread, char* buffer, int length);

/// Fills `context` for `thread`. Another thread's registers are those it saved when
/// `dozidicrashmc_suspendEnvironment` stopped it (none when it is not stopped); the caller's own
/// registers are not captured. A crashed context also walks the stack (depth 150) to tell a
/// stack overflow, and lists the process's threads.
/// Runs during a crash: no allocation, no locks.
bool dozidicrashmc_getContextForThread(DozidiCrashThread thread, DozidiCrashMachineContext* context, bool isCrashedContext);

/// Fills `context` from a signal handler's user context (a `ucontext_t*`), as a crashed context
/// of the calling thread.
/// Runs during a crash: no allocation, no locks.
bool dozidicrashmc_getContextForSignal(void* userContext, DozidiCrashMachineContext* context);

/// Runs during a crash: no allocation, no locks.
DozidiCrashThread dozidicrashmc_getThreadFromContext(const DozidiCrashMachineContext* context);
int dozidicrashmc_getThreadCount(const DozidiCrashMachineContext* context);
DozidiCrashThread dozidicrashmc_getThreadAtIndex(const DozidiCrashMachineContext* context, int index);
/// Index of `thread` in the context's list; -1 when absent or the list is empty.
int dozidicrashmc_indexOfThread(const DozidiCrashMachineContext* context, DozidiCrashThread thread);
bool dozidicrashmc_isCrashedContext(const DozidiCrashMachineContext* context);
/// True unless the context is the caller's own and not a signal context.
bool dozidicrashmc_canHaveCPUState(const DozidiCrashMachineContext* context);
bool dozidicrashmc_hasValidExceptionRegisters(const DozidiCrashMachineContext* context);

/// Stops every other thread of the process and hands out the thread list (static storage, valid
/// until the next suspension). The list is taken again until no new thread shows up (three
/// passes at most), so threads started meanwhile are stopped too; when every listed thread
/// stopped and the process counts no more threads than were listed, the count stands for the
/// second listing (with the folder that `dozidicrashmc_prepare` opened). A thread that does not stop
/// within the kernel layer's deadline keeps running.
/// Runs during a crash: no allocation, no locks.
void dozidicrashmc_suspendEnvironment(DozidiCrashThread** threadsOut, int* countOut);

/// The first part of `dozidicrashmc_suspendEnvironment`: lists the threads and asks each to stop,
/// without waiting. The caller may then do work that needs no other thread stopped while they
/// stop: unwinding its own stack, making its crashed context (whose thread list is filled once
/// they have stopped) and writing the parts of a report that read nothing of theirs.
/// `dozidicrashmc_finishSuspendEnvironment` or `dozidicrashmc_suspendEnvironment`, called next on
/// the same thread, waits for them and goes on as usual.
/// Runs during a crash: no allocation, no locks.
void dozidicrashmc_beginSuspendEnvironment();

/// Waits for the threads of a suspension that this thread began and has not finished, lists
/// again for threads started meanwhile, and fills the thread list of the crashed context made
/// in between. The following `dozidicrashmc_suspendEnvironment` then only hands out the list.
/// Does nothing without such a suspension. A report calls it before it writes what the other
/// threads hold (their registers and stacks, the scope they set).
/// Runs during a crash: no allocation, no locks.
void dozidicrashmc_finishSuspendEnvironment();

/// Lets the threads stopped by `dozidicrashmc_suspendEnvironment` run again. Without a list (or
/// with a count of 0) it logs and does nothing.
/// Runs during a crash: no allocation, no locks.
void dozidicrashmc_resumeEnvironment(DozidiCrashThread* threads, int count);

/// Prepares what the crash path needs: the suspend signal's handler, the safe reads, the files'
/// symbol tables and the unwinder. Normal time; the recorder's install calls it. Suspension
/// installs its handler lazily too, but symbols of non-exported functions need this call.
bool dozidicrashmc_prepare();
