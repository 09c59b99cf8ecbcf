#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashCachedData.h"

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashReport.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashSymbolRebinding.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"
#include "platform/kernel/BinaryImages.h"
#include "platform/kernel/Threads.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

// Threads the cache keeps; more are left unnamed.
constexpr int kMaxCachedThreads = 1024;
// Refreshes one second apart after the start, before the polling interval takes over: threads
// are usually created and named during launch.
constexpr int kStartupRefreshes = 4;

// One refresh's result. Immutable once published, so a reader that was stopped half-way never
// sees a count that does not match the arrays.
struct Snapshot {
  int count;
  DozidiCrashThread threads[kMaxCachedThreads];
  char names[kMaxCachedThreads][16];
};

std::atomic<Snapshot*> gCurrent{nullptr};
// The snapshot replaced by the last refresh: freed only at the next one, so a reader that took
// the old pointer just before the swap still reads valid memory.
Snapshot* gRetired = nullptr;
std::atomic<int> gFreezeCount{0};
static_assert(std::atomic<Snapshot*>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

// Never destroyed: a refresh still under way at exit ends after the static destructors ran
// (see stopAtExit), and must still find them.
std::mutex& gThreadMutex = *new std::mutex;
std::condition_variable& gWake = *new std::condition_variable;
std::thread& gRefreshThread = *new std::thread;
bool gStop = false;
bool gRunning = false;
// Set while the refresh thread refreshes, cleared once it holds the mutex again.
bool gRefreshing = false;
int gPollingInterval = 60;
int gStartupCountdown = kStartupRefreshes;
// The process that started the refresh thread: a forked child has no such thread.
pid_t gOwnerProcess = 0;

// A std::thread still joinable when it is destroyed ends the process with std::terminate, which
// the C++ monitor would record as a crash of a normal exit; the thread handle is therefore never
// destroyed, and the refresh thread is stopped at exit. An idle thread is joined. A refresh
// under way is not waited for: the first one reads the symbol tables of every loaded image, a
// tenth of a second and more on a busy machine, which a short program would add to its end. The
// thread is detached by design then: it stops after that refresh, and everything it uses is
// never destroyed or trivially destructible, so the exit goes on without it.
void stopAtExit() {
  std::thread stopping;
  bool wait = false;
  {
    std::lock_guard<std::mutex> lock(gThreadMutex);
    if (gOwnerProcess != getpid()) {
      // A forked child inherited the handle of a thread that does not run in it: it can be
      // neither joined nor detached, and stays in its never-destroyed place.
      gRunning = false;
      return;
    }
    if (!gRunning) return;
    gRunning = false;
    gStop = true;
    stopping = std::move(gRefreshThread);
    wait = !gRefreshing;
  }
  gWake.notify_all();
  if (!stopping.joinable()) return;
  if (wait) {
    stopping.join();
  } else {
    stopping.detach();
  }
}

void refreshLoop() {
  pthread_setname_np(pthread_self(), "DzCrash Cached");
  std::unique_lock<std::mutex> lock(gThreadMutex);
  while (!gStop) {
    gRefreshing = true;
    lock.unlock();
    if (dozidicrash::detail::refreshCachedThreadData()) {
      // Linux announces no newly loaded image; catch them here for the symbol rebinding and
      // for the symbol tables the crash path names frames with.
      dozidicrash_rebindNewImages();
      kernel::prepareSymbolTables();
      dozidicrashreport_prepareBinaryImages();
    }
    lock.lock();
    gRefreshing = false;
    int seconds = gStartupCountdown > 0 ? 1 : gPollingInterval;
    if (gStartupCountdown > 0) --gStartupCountdown;
    gWake.wait_for(lock, std::chrono::seconds(seconds), [] { return gStop; });
  }
}

}  // namespace

namespace dozidicrash::detail {

bool refreshCachedThreadData() {
  // A reader freezes before it takes the current snapshot, so a refresh that started unfrozen
  // only ever frees a snapshot that was replaced before any such reader could take it.
  if (gFreezeCount.load(std::memory_order_acquire) >= 1) return false;
  auto* fresh = new (std::nothrow) Snapshot;
  if (fresh == nullptr) return false;
  kernel::ThreadId threads[kMaxCachedThreads];
  int count = kernel::listThreads(threads, kMaxCachedThreads);
  if (count < 0) {
    DOZIDICRASHLOG_ERROR("task_threads: %s", "cannot read /proc/self/task");
    delete fresh;
    return false;
  }
  fresh->count = count < kMaxCachedThreads ? count : kMaxCachedThreads;
  for (int i = 0; i < fresh->count; ++i) {
    fresh->threads[i] = static_cast<DozidiCrashThread>(threads[i]);
    if (!kernel::readThreadName(threads[i], fresh->names[i], sizeof fresh->names[i])) fresh->names[i][0] = '\0';
  }
  Snapshot* previous = gCurrent.exchange(fresh, std::memory_order_acq_rel);
  delete gRetired;
  gRetired = previous;
  return true;
}

}  // namespace dozidicrash::detail

void dozidicrashccd_init(int pollingIntervalInSeconds) {
  std::lock_guard<std::mutex> lock(gThreadMutex);
  if (gRunning) return;
  gRunning = true;
  gStop = false;
  gPollingInterval = pollingIntervalInSeconds > 0 ? pollingIntervalInSeconds : 1;
  static const bool registered = std::atexit(stopAtExit) == 0;
  if (!registered) DOZIDICRASHLOG_ERROR("atexit: %s", "cannot stop the cached data thread at exit");
  gOwnerProcess = getpid();
  gRefreshThread = std::thread(refreshLoop);
}

void dozidicrashccd_close() {
  std::thread stopping;
  {
    std::lock_guard<std::mutex> lock(gThreadMutex);
    if (!gRunning) return;
    gRunning = false;
    gStop = true;
    stopping = std::move(gRefreshThread);
  }
  gWake.notify_all();
  if (stopping.joinable()) stopping.join();
}

void dozidicrashccd_freeze() { gFreezeCount.fetch_add(1, std::memory_order_acq_rel); }

void dozidicrashccd_unfreeze() {
  if (gFreezeCount.fetch_sub(1, std::memory_order_acq_rel) < 1) gFreezeCount.fetch_add(1, std::memory_order_acq_rel);
}

const char* dozidicrashccd_getThreadName(DozidiCrashThread thread) {
  const Snapshot* snapshot = gCurrent.load(std::memory_order_acquire);
  if (snapshot == nullptr) return nullptr;
  for (int i = 0; i < snapshot->count; ++i) {
    if (snapshot->threads[i] == thread) return snapshot->names[i][0] != '\0' ? snapshot->names[i] : nullptr;
  }
  return nullptr;
}

const char* dozidicrashccd_getQueueName(DozidiCrashThread) { return nullptr; }
