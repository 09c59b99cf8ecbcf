#include "platform/kernel/ThreadSampling.h"

#include "platform/kernel/detail/FutexWait.h"
#include "platform/kernel/detail/RealtimeSignal.h"

#include <linux/futex.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace kernel {

namespace {

// Slot states. Free -> Reserved (asker fills it) -> Requested (signal sent) -> Claimed (the asked
// thread runs the function) -> Done (asker reads the result) -> Free. An asker that gives up moves
// Requested -> Abandoned, which counts as free; one that must wait for a thread still running the
// function (it was preempted there) moves Claimed -> Awaited and sleeps until the thread is done.
// A late signal may still reach a slot after it was given up or handed to another thread: the
// asked thread claims the slot first and then checks that the request in it is the one its signal
// carries, so it never runs another's.
enum SlotState : int { Free = 0, Reserved = 1, Requested = 2, Claimed = 3, Done = 4, Abandoned = 5, Awaited = 6 };

// Threads asked at once, across all askers; more in one call are asked in turns.
constexpr int kSlotCount = 256;

struct Slot {
  std::atomic<int> state{Free};
  // The request's ticket: a number that no other request has had, times kSlotCount, plus the
  // slot's index. The signal carries it, so a late signal can be told from the current one.
  std::atomic<std::uint64_t> ticket{0};
  std::atomic<ThreadId> thread{0};
  SampleFunction function = nullptr;
  void* record = nullptr;
  std::atomic<int>* pending = nullptr;
};

// Added to a round's count of requests out while its asker waits: the last thread to answer
// wakes it then, and a thread that answers while the asker is still asking makes no call.
constexpr int kWaiting = 1 << 16;
static_assert(kWaiting > SamplingRound::kCapacity);

constinit Slot gSlots[kSlotCount];
std::atomic<std::uint64_t> gNextTicket{1};
std::atomic<int> gSignal{0};
std::atomic<bool> gInstalled{false};
std::atomic<uid_t> gUser{0};  // the sender's user id that each request carries, read at install
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<std::uint64_t>::is_always_lock_free);

using detail::futex;
using detail::nowNanoseconds;

// Takes the Requested slot for the request `ticket` of this thread. A claim that turns out to
// be for another request is given back at once; the rightful thread waits those few
// instructions rather than missing its request.
bool claimSlot(Slot& slot, std::uint64_t ticket, ThreadId self) {
  for (;;) {
    int expected = Requested;
    if (slot.state.compare_exchange_strong(expected, Claimed, std::memory_order_acq_rel)) {
      if (slot.ticket.load(std::memory_order_acquire) == ticket && slot.thread.load(std::memory_order_acquire) == self) {
        return true;
      }
      // The asker may be waiting for this claim to end: it gets the slot back and a wake.
      if (slot.state.exchange(Requested, std::memory_order_acq_rel) == Awaited) {
        futex(&slot.state, FUTEX_WAKE_PRIVATE, 1, nullptr);
      }
      return false;
    }
    if (expected != Claimed) return false;
  }
}

void onSampleSignal(int, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  if (info->si_code == SI_QUEUE) {
    const auto ticket = reinterpret_cast<std::uint64_t>(info->si_value.sival_ptr);
    Slot& slot = gSlots[ticket % kSlotCount];
    const ThreadId self = currentThreadId();
    if (slot.ticket.load(std::memory_order_acquire) == ticket && claimSlot(slot, ticket, self)) {
      const auto* user = static_cast<const ucontext_t*>(context);
      slot.function(user->uc_mcontext, slot.record);
      // The asker's counter lives as long as it waits for this slot to be Done: count and wake
      // first, then let the slot go.
      std::atomic<int>* pending = slot.pending;
      if (pending->fetch_sub(1, std::memory_order_acq_rel) == kWaiting + 1) futex(pending, FUTEX_WAKE_PRIVATE, 1, nullptr);
      if (slot.state.exchange(Done, std::memory_order_acq_rel) == Awaited) {
        futex(&slot.state, FUTEX_WAKE_PRIVATE, 1, nullptr);
      }
    }
  }
  errno = savedErrno;
}

int reserveSlot(int from) {
  for (int n = 0; n < kSlotCount; ++n) {
    const int i = (from + n) % kSlotCount;
    int state = gSlots[i].state.load(std::memory_order_relaxed);
    if (state != Free && state != Abandoned) continue;
    if (gSlots[i].state.compare_exchange_strong(state, Reserved, std::memory_order_acq_rel)) return i;
  }
  return -1;
}

bool sendRequest(pid_t process, uid_t user, ThreadId thread, std::uint64_t ticket) {
  siginfo_t info;
  std::memset(&info, 0, sizeof info);
  info.si_signo = gSignal.load(std::memory_order_relaxed);
  info.si_code = SI_QUEUE;
  info.si_pid = process;
  info.si_uid = user;
  info.si_value.sival_ptr = reinterpret_cast<void*>(ticket);
  return ::syscall(SYS_rt_tgsigqueueinfo, process, thread, info.si_signo, &info) == 0;
}

constexpr timespec kSettleRecheck{0, 10 * 1000 * 1000};

// Settles a slot after the wait: true when its thread ran the function. A thread that is running
// the function right now is waited for, asleep: it may have been preempted there, and the record
// and counter it writes must outlive it.
bool settle(Slot& slot) {
  for (;;) {
    int state = slot.state.load(std::memory_order_acquire);
    if (state == Done) {
      slot.state.store(Free, std::memory_order_release);
      return true;
    }
    if (state == Requested) {
      if (slot.state.compare_exchange_strong(state, Abandoned, std::memory_order_acq_rel)) return false;
      continue;
    }
    if (state == Claimed) {
      if (!slot.state.compare_exchange_strong(state, Awaited, std::memory_order_acq_rel)) continue;
      state = Awaited;
    }
    // Whoever ends the claim wakes us: the thread when it is done, or a mistaken claimer (a late
    // signal of an earlier request) when it gives the slot back. The time-out only bounds the
    // cost of a wake we might miss.
    if (state == Awaited) futex(&slot.state, FUTEX_WAIT_PRIVATE, Awaited, &kSettleRecheck);
  }
}

}  // namespace

bool installThreadSampling() {
  if (gInstalled.load()) return gSignal.load() != 0;
  gUser.store(::getuid());
  // No other handler may run on the thread while it looks at itself, but a fault in the
  // function still reaches the crash handlers.
  sigset_t blocked;
  sigfillset(&blocked);
  for (int fault : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGSYS, SIGABRT}) sigdelset(&blocked, fault);
  gSignal.store(detail::claimRealtimeSignal(onSampleSignal, blocked));
  gInstalled.store(true);
  return gSignal.load() != 0;
}

int threadSamplingSignal() { return gSignal.load(); }

int sampleThreads(const ThreadId* threads, int count, SampleFunction function, void* const* records, bool* ran,
                  long deadlineMilliseconds) {
  for (int i = 0; i < count; ++i) ran[i] = false;
  if (gSignal.load() == 0 || function == nullptr) return 0;
  int done = 0;
  SamplingRound round(function);
  for (int first = 0; first < count; first += SamplingRound::kCapacity) {
    const int n = count - first < SamplingRound::kCapacity ? count - first : SamplingRound::kCapacity;
    int indexOf[SamplingRound::kCapacity];
    for (int i = 0; i < n; ++i) indexOf[i] = round.ask(threads[first + i], records[first + i]);
    bool answered[SamplingRound::kCapacity];
    done += round.finish(answered, deadlineMilliseconds);
    for (int i = 0; i < n; ++i) ran[first + i] = indexOf[i] >= 0 && answered[indexOf[i]];
  }
  return done;
}

SamplingRound::SamplingRound(SampleFunction function)
    : function_(function),
      self_(currentThreadId()),
      process_(currentProcessId()),
      from_(static_cast<int>(gNextTicket.load(std::memory_order_relaxed) % kSlotCount)) {}

SamplingRound::~SamplingRound() {
  if (asked_ == 0) return;
  bool ran[kCapacity];
  finish(ran, 0);
}

int SamplingRound::ask(ThreadId thread, void* record) {
  if (function_ == nullptr || asked_ == kCapacity || thread == self_ || thread <= 0) return -1;
  const int signal = gSignal.load(std::memory_order_relaxed);
  if (signal == 0) return -1;
  const int index = reserveSlot(from_);
  if (index < 0) return -1;
  from_ = index + 1;
  Slot& slot = gSlots[index];
  const std::uint64_t ticket =
      gNextTicket.fetch_add(1, std::memory_order_relaxed) * kSlotCount + static_cast<std::uint64_t>(index);
  slot.function = function_;
  slot.record = record;
  slot.pending = &pending_;
  slot.thread.store(thread, std::memory_order_relaxed);
  slot.ticket.store(ticket, std::memory_order_relaxed);
  pending_.fetch_add(1, std::memory_order_relaxed);
  slot.state.store(Requested, std::memory_order_release);
  if (!sendRequest(process_, gUser.load(std::memory_order_relaxed), thread, ticket)) {
    // Nobody got the signal, so nobody can claim the slot meanwhile.
    pending_.fetch_sub(1, std::memory_order_relaxed);
    slot.state.store(Free, std::memory_order_release);
    return -1;
  }
  slotOf_[asked_] = index;
  return asked_++;
}

int SamplingRound::finish(bool* ran, long deadlineMilliseconds) {
  const std::int64_t deadline = nowNanoseconds() + static_cast<std::int64_t>(deadlineMilliseconds) * 1000000;
  pending_.fetch_add(kWaiting, std::memory_order_acq_rel);
  for (;;) {
    const int left = pending_.load(std::memory_order_acquire);
    if (left <= kWaiting) break;
    const std::int64_t wait = deadline - nowNanoseconds();
    if (wait <= 0) break;
    // Only the last thread to answer wakes us; an answer in between changes the word, and the
    // wait returns at once to look again.
    timespec timeout{static_cast<time_t>(wait / 1000000000), static_cast<long>(wait % 1000000000)};
    futex(&pending_, FUTEX_WAIT_PRIVATE, left, &timeout);
  }
  int done = 0;
  for (int i = 0; i < asked_; ++i) {
    ran[i] = settle(gSlots[slotOf_[i]]);
    if (ran[i]) ++done;
  }
  // Every request is settled: no thread counts down any more, and those given up never did.
  pending_.store(0, std::memory_order_relaxed);
  asked_ = 0;
  return done;
}

}  // namespace kernel
