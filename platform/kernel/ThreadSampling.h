#pragma once
// Taking a look at other threads of this process where they run, without parking them.
//
// A real-time signal of its own asks a thread to run a given function on itself, inside the
// signal handler, with the machine context of the moment the signal interrupted it: the thread
// does not run its own code meanwhile, so what the function reads of its stack is as it was at
// that moment. The asking thread waits until every thread it asked has run the function, or a
// deadline passes; no thread waits for the asker, so nobody has to be woken afterwards.
//
// The suspension of ThreadSuspension.h stays the way to hold threads still for a longer look (a
// crash report); this is the cheaper way to take a short one many times a second (a profiler).

#include "platform/kernel/ThreadState.h"
#include "platform/kernel/Threads.h"

namespace kernel {

/// What an asked thread runs: `state` holds its registers as interrupted, `record` is the asker's
/// record for that thread. Runs inside a signal handler on the asked thread, with every
/// asynchronous signal blocked: it must be async-signal-safe (no allocation, no locks) and short.
using SampleFunction = void (*)(const ThreadState& state, void* record);

/// Picks a free real-time signal (one whose disposition is still the default) and installs the
/// handler on it. Normal time, once; later calls return the first answer. False when no real-time
/// signal is free.
bool installThreadSampling();

/// The signal the handler was installed on, or 0.
int threadSamplingSignal();

/// Asks each thread of `threads` (never the caller) to run `function` with `records[i]`, and
/// waits until all of them have, at most `deadlineMilliseconds`. `ran[i]` tells whether thread i
/// ran it; a thread that had not started it by the deadline never runs it for this call, so
/// `records[i]` of such a thread is the caller's again once this returns. Returns how many ran it.
/// Several callers may ask at once. A thread that has the signal blocked for longer than the
/// deadline, or ends first, does not run it.
/// No allocation, no locks.
int sampleThreads(const ThreadId* threads, int count, SampleFunction function, void* const* records, bool* ran,
                  long deadlineMilliseconds);

}  // namespace kernel
