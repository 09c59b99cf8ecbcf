#include "platform/kernel/ThreadSuspension.h"

#include "platform/kernel/SafeMemory.h"
#include "platform/kernel/detail/FutexWait.h"
#include "platform/kernel/detail/RealtimeSignal.h"

#include <linux/futex.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

namespace kernel {

namespace {

// Slot states. A slot moves Idle -> Requested (suspender) -> Claimed -> Parked (target) ->
// Released (resumer) -> Idle (target, on leaving). A suspender that gives up moves Requested ->
// Abandoned; a late signal then finds the slot not Requested and returns at once. An abandoned
// slot may be handed to another thread while the first one's signal is still on its way (a
// thread that blocks signals for a while, or a runtime that defers them): the target therefore
// claims the slot first and only then checks that the slot is still asked of it, so a late
// thread never parks in, or writes registers into, a slot meant for another.
enum SlotState : int { Idle = 0, Requested = 1, Parked = 2, Released = 3, Abandoned = 4, Claimed = 5 };

// More threads than slots are left running: 512 covers every process we expect, and the table
// lives in zero-filled static memory.
constexpr int kSlotCount = 512;

// Bytes of its stack that a thread copies when it stops, from its stack pointer up: enough for
// the frame records of a usual stack, which a report then reads from memory instead of through a
// system call per thread. The threads copy in parallel, each on its own way to a stop.
constexpr std::size_t kStackCopySize = 2048;

// What the suspender and the target hand each other, packed together: a suspension touches one
// of these per thread, and a table of small entries keeps that to a page or two instead of a
// page per thread. A page that a process touches for the first time costs a page fault (tens of
// microseconds on a virtual machine), so install touches these pages once in advance.
struct SlotControl {
  std::atomic<int> state{Idle};
  std::atomic<ThreadId> thread{0};
  // Set once the slot's stack copy (gStacks) is complete; a reader that finds it unset reads
  // the stack itself.
  std::atomic<bool> stackCopied{false};
};
static_assert(std::atomic<int>::is_always_lock_free);

// What a stopped thread leaves for the reader. Registers have a table of their own, also touched
// at install, because a thread saves them before it tells the suspender that it stopped; the
// stack copy is made afterwards, while the suspender goes on.
struct SlotStack {
  std::uintptr_t start = 0;
  std::size_t length = 0;
  alignas(16) unsigned char bytes[kStackCopySize] = {};
};

// Constant-initialized: tables filled at load time would touch their pages in every process at start.
constinit SlotControl gControl[kSlotCount];
constinit ThreadState gRegisters[kSlotCount]{};
constinit SlotStack gStacks[kSlotCount];
// Register entries touched at install: the threads of a usual process. Beyond them a stopping
// thread pays the page fault of its entry itself.
constexpr int kWarmRegisterSlots = 64;

std::atomic<int> gUsedSlots{0};
// Counts threads that parked. The thread whose parking brings the count to gWakeAt wakes the
// suspender waiting on it: the suspender sleeps until the last thread it asked has parked,
// instead of polling or being woken by each one.
std::atomic<int> gParkings{0};
std::atomic<int> gWakeAt{INT_MAX};
std::atomic<int> gSignal{0};
std::atomic<bool> gInstalled{false};
// Moves on at each release. Parked threads wait on this one word rather than each on its slot,
// so that letting a whole suspension go is one wake-up call instead of one per thread; each
// woken thread then sees from its slot whether it was let go.
std::atomic<int> gReleases{0};

using detail::futex;
using detail::nowNanoseconds;

// Waits until gParkings moves from `seen` or the deadline passes.
void waitForParkings(int seen, std::int64_t deadline) {
  std::int64_t left = deadline - nowNanoseconds();
  if (left <= 0) return;
  timespec timeout{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
  futex(&gParkings, FUTEX_WAIT_PRIVATE, seen, &timeout);
}

// Copies the top of the stopped thread's stack into its slot, as far as it can be read: the
// stack may end before the copy does. Nothing is copied when the kernel refuses the read. Runs
// after the thread has told the suspender that it stopped, while the suspender goes on.
void copyStackTop(int index) {
  SlotStack& stack = gStacks[index];
  const std::uintptr_t start = static_cast<std::uintptr_t>(stackPointer(gRegisters[index]));
  if (start == 0 || start > UINTPTR_MAX - kStackCopySize) return;
  iovec local{stack.bytes, kStackCopySize};
  iovec remote{reinterpret_cast<void*>(start), kStackCopySize};
  const long copied = ::syscall(SYS_process_vm_readv, currentProcessId(), &local, 1UL, &remote, 1UL, 0UL);
  if (copied <= 0) return;
  stack.start = start;
  stack.length = static_cast<std::size_t>(copied);
  gControl[index].stackCopied.store(true, std::memory_order_release);
}

// Takes a Requested slot for `self`: true when the slot is now Claimed by this thread. A slot
// claimed by a late thread it was not meant for is given back as Requested at once; its owner
// waits the few instructions that takes rather than missing its request.
bool claimSlot(SlotControl& slot, ThreadId self) {
  for (;;) {
    int expected = Requested;
    if (slot.state.compare_exchange_strong(expected, Claimed, std::memory_order_acq_rel)) {
      // The claim orders after the suspender's request, so this reads the thread it asked.
      if (slot.thread.load(std::memory_order_acquire) == self) return true;
      slot.state.store(Requested, std::memory_order_release);
      return false;
    }
    if (expected != Claimed) return false;
  }
}

// Until a slot's claim is settled: a claim by the right thread ends Parked, a mistaken one
// ends Requested again.
int settledState(const SlotControl& slot) {
  int state = slot.state.load(std::memory_order_acquire);
  while (state == Claimed) state = slot.state.load(std::memory_order_acquire);
  return state;
}

void onSuspendSignal(int, siginfo_t* info, void* context) {
  int savedErrno = errno;
  int index = info->si_value.sival_int;
  if (info->si_code == SI_QUEUE && index >= 0 && index < kSlotCount) {
    SlotControl& slot = gControl[index];
    const ThreadId self = currentThreadId();
    if (slot.thread.load(std::memory_order_acquire) == self && claimSlot(slot, self)) {
      auto* user = static_cast<ucontext_t*>(context);
      ThreadState& registers = gRegisters[index];
      std::memcpy(&registers, &user->uc_mcontext, sizeof registers);
      // The floating-point area lives in this signal frame, which is gone once we return.
      registers.fpregs = nullptr;
      slot.stackCopied.store(false, std::memory_order_relaxed);
      slot.state.store(Parked, std::memory_order_release);
      if (gParkings.fetch_add(1) + 1 >= gWakeAt.load()) futex(&gParkings, FUTEX_WAKE_PRIVATE, 1, nullptr);
      copyStackTop(index);
      for (;;) {
        // The release count is read before the slot: a release that comes after the check
        // moves the count, and the wait returns at once.
        const int releases = gReleases.load(std::memory_order_acquire);
        if (slot.state.load(std::memory_order_acquire) != Parked) break;
        futex(&gReleases, FUTEX_WAIT_PRIVATE, releases, nullptr);
      }
      slot.thread.store(0, std::memory_order_relaxed);
      slot.state.store(Idle, std::memory_order_release);
    }
  }
  errno = savedErrno;
}

bool sendSuspend(pid_t process, uid_t user, ThreadId thread, int index) {
  siginfo_t info;
  std::memset(&info, 0, sizeof info);
  info.si_signo = gSignal.load();
  info.si_code = SI_QUEUE;
  info.si_pid = process;
  info.si_uid = user;
  info.si_value.sival_int = index;
  return ::syscall(SYS_rt_tgsigqueueinfo, process, thread, info.si_signo, &info) == 0;
}

// A slot that a thread from an earlier suspension has not left yet is skipped.
int findFreeSlot(int from) {
  for (int i = from; i < kSlotCount; ++i) {
    int state = gControl[i].state.load(std::memory_order_acquire);
    if (state == Idle || state == Abandoned) return i;
  }
  return -1;
}

}  // namespace

bool installThreadSuspension() {
  if (gInstalled.load()) return gSignal.load() != 0;
  // Before the signal is claimed, so that no suspension can be using the entries yet.
  touchPagesInPlace(gControl, sizeof gControl);
  touchPagesInPlace(gRegisters, sizeof gRegisters[0] * kWarmRegisterSlots);
  // Nothing else may interrupt a parked thread: it would run app code while "stopped".
  sigset_t blocked;
  sigfillset(&blocked);
  gSignal.store(detail::claimRealtimeSignal(onSuspendSignal, blocked));
  gInstalled.store(true);
  return gSignal.load() != 0;
}

int threadSuspensionSignal() { return gSignal.load(); }

int suspendThreads(const ThreadId* threads, int count, bool* suspended, long deadlineMilliseconds) {
  SuspensionRequest request;
  requestSuspension(threads, count, suspended, &request);
  return awaitSuspension(threads, count, suspended, &request, deadlineMilliseconds);
}

void requestSuspension(const ThreadId* threads, int count, bool* suspended, SuspensionRequest* request) {
  static_assert(sizeof request->slotOf / sizeof request->slotOf[0] == kSlotCount);
  int* slotOf = request->slotOf;
  for (int i = 0; i < kSlotCount; ++i) slotOf[i] = -1;
  request->sent = 0;
  request->alreadyStopped = 0;
  request->parkedBefore = 0;
  for (int i = 0; i < count; ++i) suspended[i] = false;
  if (gSignal.load() == 0) return;
  ThreadId self = currentThreadId();
  const pid_t process = currentProcessId();
  const uid_t user = ::getuid();
  int nextSlot = gUsedSlots.load(std::memory_order_acquire);
  int alreadyStopped = 0;
  gWakeAt.store(INT_MAX);
  const int parkedBefore = gParkings.load();
  int sent = 0;
  for (int i = 0; i < count; ++i) {
    if (i >= kSlotCount) break;
    if (threads[i] == self || threads[i] <= 0) continue;
    if (suspendedThreadState(threads[i]) != nullptr) {
      suspended[i] = true;
      ++alreadyStopped;
      continue;
    }
    int index = findFreeSlot(nextSlot);
    if (index < 0) break;
    nextSlot = index + 1;
    SlotControl& slot = gControl[index];
    slot.thread.store(threads[i], std::memory_order_release);
    slot.state.store(Requested, std::memory_order_release);
    if (!sendSuspend(process, user, threads[i], index)) {
      slot.state.store(Idle, std::memory_order_release);
      slot.thread.store(0, std::memory_order_release);
      continue;
    }
    slotOf[i] = index;
    ++sent;
  }
  gUsedSlots.store(nextSlot, std::memory_order_release);
  request->sent = sent;
  request->alreadyStopped = alreadyStopped;
  request->parkedBefore = parkedBefore;
}

int awaitSuspension(const ThreadId* threads, int count, bool* suspended, SuspensionRequest* request,
                    long deadlineMilliseconds) {
  (void)threads;
  if (gSignal.load() == 0) return 0;
  const int* slotOf = request->slotOf;
  // Stored before the parkings are read below, and read by a parking thread after its count:
  // either the last thread sees it and wakes us, or the loop sees every thread parked.
  gWakeAt.store(request->parkedBefore + request->sent);
  const int alreadyStopped = request->alreadyStopped;

  std::int64_t deadline = nowNanoseconds() + static_cast<std::int64_t>(deadlineMilliseconds) * 1000000;
  int stopped = alreadyStopped;
  for (;;) {
    // Read before the pass: a thread that parks after its slot was checked moves it.
    int parkings = gParkings.load();
    int pending = 0;
    for (int i = 0; i < count && i < kSlotCount; ++i) {
      if (slotOf[i] < 0 || suspended[i]) continue;
      if (gControl[slotOf[i]].state.load(std::memory_order_acquire) == Parked) {
        suspended[i] = true;
        ++stopped;
      } else {
        ++pending;
      }
    }
    if (pending == 0 || nowNanoseconds() >= deadline) break;
    waitForParkings(parkings, deadline);
  }
  // Give up on late threads; if one parks between the check and here, the exchange tells us.
  for (int i = 0; i < count && i < kSlotCount; ++i) {
    if (slotOf[i] < 0 || suspended[i]) continue;
    SlotControl& slot = gControl[slotOf[i]];
    for (;;) {
      int expected = Requested;
      if (slot.state.compare_exchange_strong(expected, Abandoned, std::memory_order_acq_rel)) break;
      if (expected == Claimed) {
        expected = settledState(slot);
        if (expected == Requested) continue;
      }
      if (expected == Parked) {
        suspended[i] = true;
        ++stopped;
      }
      break;
    }
  }
  return stopped;
}

void resumeThreads() {
  int used = gUsedSlots.exchange(0, std::memory_order_acq_rel);
  bool released = false;
  for (int i = 0; i < used; ++i) {
    int expected = Parked;
    if (gControl[i].state.compare_exchange_strong(expected, Released, std::memory_order_acq_rel)) released = true;
  }
  if (!released) return;
  gReleases.fetch_add(1, std::memory_order_acq_rel);
  futex(&gReleases, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr);
}

bool readSuspendedStack(ThreadId thread, std::uintptr_t address, void* destination, std::size_t length) {
  int used = gUsedSlots.load(std::memory_order_acquire);
  for (int i = 0; i < used; ++i) {
    const SlotControl& slot = gControl[i];
    if (slot.thread.load(std::memory_order_acquire) != thread || slot.state.load(std::memory_order_acquire) != Parked) {
      continue;
    }
    if (!slot.stackCopied.load(std::memory_order_acquire)) return false;
    const SlotStack& stack = gStacks[i];
    if (address < stack.start || address - stack.start > stack.length || length > stack.length - (address - stack.start)) {
      return false;
    }
    std::memcpy(destination, stack.bytes + (address - stack.start), length);
    return true;
  }
  return false;
}

const ThreadState* suspendedThreadState(ThreadId thread) {
  int used = gUsedSlots.load(std::memory_order_acquire);
  for (int i = 0; i < used; ++i) {
    if (gControl[i].thread.load(std::memory_order_acquire) == thread &&
        gControl[i].state.load(std::memory_order_acquire) == Parked) {
      return &gRegisters[i];
    }
  }
  return nullptr;
}

}  // namespace kernel

