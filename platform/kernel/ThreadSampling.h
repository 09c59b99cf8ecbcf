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

#include <atomic>

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

/// One caller's requests, asked one at a time and waited for together: a caller that decides
/// thread by thread whom to ask (it reads each one's state first) sends each request as soon as
/// it has decided, so the threads asked first answer while it looks at the rest. Lives on the
/// caller's stack and is used by that thread only; several rounds, of several callers, may be
/// under way at once. No allocation, no locks.
class SamplingRound {
 public:
  /// The most requests of one round; `ask` refuses more until `finish`.
  static constexpr int kCapacity = 64;

  explicit SamplingRound(SampleFunction function);
  /// Waits for the requests still out (with no deadline beyond those running the function), so
  /// that no thread writes a record after the round is gone.
  ~SamplingRound();
  SamplingRound(const SamplingRound&) = delete;
  SamplingRound& operator=(const SamplingRound&) = delete;

  /// Asks `thread` to run the function with `record`. Returns the request's index in this round
  /// (0, 1, ... in the order asked), or -1 when it was not asked: the thread is the caller or
  /// invalid, the signal could not be sent (the thread has ended), the round is full, no slot is
  /// free, or sampling is not installed. `record` belongs to the thread from here until `finish`.
  int ask(ThreadId thread, void* record);
  /// Requests asked since the last `finish`.
  int asked() const { return asked_; }
  /// Waits until every thread asked has run the function, at most `deadlineMilliseconds` from
  /// now, and settles the requests as `sampleThreads` does: `ran[i]` for the request of index i
  /// (`asked()` entries). Returns how many ran it. The round is empty again afterwards.
  int finish(bool* ran, long deadlineMilliseconds);

 private:
  SampleFunction function_;
  ThreadId self_;
  pid_t process_;
  int from_;
  int asked_ = 0;
  std::atomic<int> pending_{0};
  int slotOf_[kCapacity];
};

}  // namespace kernel
