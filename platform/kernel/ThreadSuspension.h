#pragma once
// Stopping the other threads of this process, and reading their registers while they are stopped.
//
// Linux has no call that suspends another thread of the same process. A real-time signal does
// the job: its handler, running on the target thread, saves the thread's machine context into a
// slot of a static table, acknowledges, and waits on a futex until it is released. The suspender
// waits for the acknowledgements up to one shared deadline; a thread that does not answer in
// time (it blocks the signal, or is exiting) counts as not suspended and has no registers.

#include "platform/kernel/ThreadState.h"
#include "platform/kernel/Threads.h"

#include <cstddef>
#include <cstdint>

namespace kernel {

/// Picks a free real-time signal (one whose disposition is still the default) and installs the
/// suspend handler on it. Normal time, once; later calls return the first answer.
/// False when no real-time signal is free.
bool installThreadSuspension();

/// The signal the handler was installed on, or 0.
int threadSuspensionSignal();

/// How long suspension waits, in all, for threads to acknowledge. Bounds the cost of a thread
/// that blocks the signal.
inline constexpr long kSuspendDeadlineMilliseconds = 250;

/// Suspends each thread of `threads` except the caller; `suspended[i]` tells whether thread i
/// stopped (also when an earlier call stopped it). Returns how many of them are stopped. Calls
/// before `resumeThreads` add to one suspension, so a caller can list again and stop threads
/// that were created meanwhile.
/// `deadlineMilliseconds` bounds the wait for acknowledgements; a caller that suspends often
/// (a sampler) passes a shorter one than a crash report needs.
/// Runs during a crash: no allocation, no locks.
int suspendThreads(const ThreadId* threads, int count, bool* suspended,
                   long deadlineMilliseconds = kSuspendDeadlineMilliseconds);

/// What `requestSuspension` leaves for `awaitSuspension`: which slot each thread was asked in.
struct SuspensionRequest {
  int slotOf[512];
  int sent = 0;
  int alreadyStopped = 0;
  int parkedBefore = 0;
};

/// `suspendThreads` in two halves, so that a caller can do work of its own while the threads
/// stop: the first sends the requests and returns at once, the second waits for them up to the
/// deadline and settles the late ones. Between the two the caller must not suspend or resume.
/// Run during a crash: no allocation, no locks.
void requestSuspension(const ThreadId* threads, int count, bool* suspended, SuspensionRequest* request);
int awaitSuspension(const ThreadId* threads, int count, bool* suspended, SuspensionRequest* request,
                    long deadlineMilliseconds = kSuspendDeadlineMilliseconds);

/// Lets every thread stopped by the last `suspendThreads` run again. Without a suspension it
/// does nothing.
/// Runs during a crash: no allocation, no locks.
void resumeThreads();

/// Copies `length` bytes at `address` of a stopped thread's stack from the copy of its stack top
/// that the thread made when it stopped. False when the thread is not stopped now or the copy
/// does not hold the whole range; the caller then reads the memory itself.
/// Runs during a crash: no allocation, no locks.
bool readSuspendedStack(ThreadId thread, std::uintptr_t address, void* destination, std::size_t length);

/// The registers a stopped thread saved when it stopped, or null when it is not stopped now.
/// Runs during a crash: no allocation, no locks.
const ThreadState* suspendedThreadState(ThreadId thread);

}  // namespace kernel
