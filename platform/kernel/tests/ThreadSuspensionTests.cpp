#include "platform/kernel/BinaryImages.h"
#include "platform/kernel/SafeMemory.h"
#include "platform/kernel/ThreadSuspension.h"
#include "platform/kernel/Threads.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Spinner {
  std::atomic<std::uint64_t> counter{0};
  std::atomic<kernel::ThreadId> id{0};
  std::atomic<bool> stop{false};
  std::thread thread;

  void start(bool blockSuspendSignal) {
    thread = std::thread([this, blockSuspendSignal] {
      if (blockSuspendSignal) {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, kernel::threadSuspensionSignal());
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
      }
      id = kernel::currentThreadId();
      while (!stop.load(std::memory_order_relaxed)) counter.fetch_add(1, std::memory_order_relaxed);
    });
    while (id.load() == 0 || counter.load() == 0) std::this_thread::yield();
  }
  void finish() {
    stop = true;
    thread.join();
  }
};

class ThreadSuspensionTests : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(kernel::installThreadSuspension()); }
};

TEST_F(ThreadSuspensionTests, ListsEveryThreadAndNamesThem) {
  Spinner spinner;
  spinner.start(false);
  pthread_setname_np(spinner.thread.native_handle(), "worker-1");
  kernel::ThreadId threads[64];
  int count = kernel::listThreads(threads, 64);
  ASSERT_GE(count, 2);
  std::vector<kernel::ThreadId> listed(threads, threads + std::min(count, 64));
  EXPECT_NE(std::find(listed.begin(), listed.end(), kernel::currentThreadId()), listed.end());
  EXPECT_NE(std::find(listed.begin(), listed.end(), spinner.id.load()), listed.end());
  char name[32];
  ASSERT_TRUE(kernel::readThreadName(spinner.id, name, sizeof name));
  EXPECT_STREQ(name, "worker-1");
  // A short buffer gets a terminated prefix; a gone thread has no name.
  char shortName[4];
  ASSERT_TRUE(kernel::readThreadName(spinner.id, shortName, sizeof shortName));
  EXPECT_STREQ(shortName, "wor");
  EXPECT_FALSE(kernel::readThreadName(0x7ffffff0, name, sizeof name));
  // Capacity smaller than the thread count still reports the full count.
  EXPECT_EQ(kernel::listThreads(threads, 1), count);
  spinner.finish();
}

// In one call, and in its two halves with work of the caller's own between them.
TEST_F(ThreadSuspensionTests, StopsThreadsUntilResumedAndKeepsTheirRegisters) {
  for (bool split : {false, true}) {
    SCOPED_TRACE(split ? "request, then await" : "one call");
    Spinner spinners[3];
    for (Spinner& spinner : spinners) spinner.start(false);
    kernel::ThreadId threads[64];
    int count = std::min(kernel::listThreads(threads, 64), 64);
    bool suspended[64];
    int stopped = 0;
    if (split) {
      kernel::SuspensionRequest request;
      kernel::requestSuspension(threads, count, suspended, &request);
      volatile std::uint64_t work = 0;
      for (int i = 0; i < 100000; ++i) work = work + 1;
      stopped = kernel::awaitSuspension(threads, count, suspended, &request);
    } else {
      stopped = kernel::suspendThreads(threads, count, suspended);
    }
    EXPECT_GE(stopped, 3);

    std::uint64_t before[3];
    for (int i = 0; i < 3; ++i) before[i] = spinners[i].counter.load();
    std::this_thread::sleep_for(50ms);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(spinners[i].counter.load(), before[i]) << "spinner " << i << " kept running";
      const kernel::ThreadState* state = kernel::suspendedThreadState(spinners[i].id);
      ASSERT_NE(state, nullptr);
      EXPECT_NE(kernel::stackPointer(*state), 0u);
      kernel::SymbolInfo info;
      EXPECT_TRUE(kernel::lookupAddress(kernel::instructionAddress(*state), &info)) << "pc outside every image";
    }
    EXPECT_EQ(kernel::suspendedThreadState(kernel::currentThreadId()), nullptr);

    kernel::resumeThreads();
    for (int i = 0; i < 3; ++i) {
      auto deadline = std::chrono::steady_clock::now() + 5s;
      while (spinners[i].counter.load() == before[i] && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
      EXPECT_GT(spinners[i].counter.load(), before[i]) << "spinner " << i << " did not run again";
      EXPECT_EQ(kernel::suspendedThreadState(spinners[i].id), nullptr);
    }
    for (Spinner& spinner : spinners) spinner.finish();
  }
}

TEST_F(ThreadSuspensionTests, AStoppedThreadsStackTopIsReadFromItsCopy) {
  Spinner spinner;
  spinner.start(false);
  kernel::ThreadId threads[1] = {spinner.id};
  bool suspended[1];
  ASSERT_EQ(kernel::suspendThreads(threads, 1, suspended), 1);
  const kernel::ThreadState* state = kernel::suspendedThreadState(spinner.id);
  ASSERT_NE(state, nullptr);
  const std::uintptr_t top = kernel::stackPointer(*state);
  // The thread copies its stack after it has stopped: until then the caller reads it itself.
  unsigned char fromCopy[64];
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!kernel::readSuspendedStack(spinner.id, top + 16, fromCopy, sizeof fromCopy) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ASSERT_TRUE(kernel::readSuspendedStack(spinner.id, top + 16, fromCopy, sizeof fromCopy));
  // The stopped thread's stack does not change, so the copy must equal the memory itself (read
  // through the kernel: another thread's stack frames are off limits to instrumented reads).
  unsigned char fromMemory[sizeof fromCopy];
  ASSERT_TRUE(kernel::copySafely(reinterpret_cast<const void*>(top + 16), fromMemory, sizeof fromMemory));
  EXPECT_EQ(std::memcmp(fromCopy, fromMemory, sizeof fromCopy), 0);
  // Ranges the copy does not hold, and threads that are not stopped, are left to the caller.
  EXPECT_FALSE(kernel::readSuspendedStack(spinner.id, top - 8, fromCopy, 16));
  EXPECT_FALSE(kernel::readSuspendedStack(spinner.id, top + 2040, fromCopy, 16));
  EXPECT_FALSE(kernel::readSuspendedStack(kernel::currentThreadId(), top, fromCopy, 16));
  kernel::resumeThreads();
  EXPECT_FALSE(kernel::readSuspendedStack(spinner.id, top + 16, fromCopy, 16));
  spinner.finish();
}

TEST_F(ThreadSuspensionTests, AThreadBlockingTheSignalCostsTheDeadlineOnly) {
  Spinner deaf, normal;
  deaf.start(true);
  normal.start(false);
  kernel::ThreadId threads[2] = {deaf.id, normal.id};
  bool suspended[2];
  auto started = std::chrono::steady_clock::now();
  int stopped = kernel::suspendThreads(threads, 2, suspended);
  auto spent = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(stopped, 1);
  EXPECT_FALSE(suspended[0]);
  EXPECT_TRUE(suspended[1]);
  EXPECT_LE(spent, 300ms);
  EXPECT_EQ(kernel::suspendedThreadState(deaf.id), nullptr);
  kernel::resumeThreads();

  // The late signal stays pending in the deaf thread; when it unblocks, it must not park.
  deaf.stop = true;
  deaf.thread.join();
  // A second round works as the first.
  stopped = kernel::suspendThreads(&threads[1], 1, suspended);
  EXPECT_EQ(stopped, 1);
  kernel::resumeThreads();
  normal.finish();
}

// A sampler passes a short deadline: a thread that does not take the signal costs that much, and
// its abandoned slot serves the next thread asked.
TEST_F(ThreadSuspensionTests, AShortDeadlineBoundsTheWaitAndTheSlotIsReused) {
  Spinner deaf, normal;
  deaf.start(true);
  normal.start(false);
  bool suspended = true;
  kernel::ThreadId id = deaf.id;
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(kernel::suspendThreads(&id, 1, &suspended, 20), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 200ms);
  EXPECT_FALSE(suspended);
  kernel::resumeThreads();
  for (int round = 0; round < 3; ++round) {
    id = normal.id;
    EXPECT_EQ(kernel::suspendThreads(&id, 1, &suspended), 1);
    EXPECT_NE(kernel::suspendedThreadState(normal.id), nullptr);
    EXPECT_EQ(kernel::suspendedThreadState(deaf.id), nullptr);
    kernel::resumeThreads();
  }
  deaf.finish();
  normal.finish();
}

}  // namespace
