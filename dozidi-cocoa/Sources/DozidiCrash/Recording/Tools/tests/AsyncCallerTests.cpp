#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashAsyncCaller.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashStackCursor.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashSymbolRebinding.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" void crash_fixture_schedule(void* context, void (*work)(void*));
extern "C" int crash_fixture_call_q(int x);
extern "C" int crash_fixture_call_value();

namespace {

std::vector<std::string> gSeenFrames;

void recordOwnStack(void*) {
  DozidiCrashStackCursor cursor;
  dozidicrashsc_initSelfThread(&cursor, 0);
  while (cursor.advanceCursor(&cursor)) {
    cursor.symbolicate(&cursor);
    gSeenFrames.push_back(cursor.stackEntry.symbolName != nullptr ? cursor.stackEntry.symbolName : "?");
  }
  dozidicrash_releaseAsyncCaller(cursor.asyncCaller);
}

}  // namespace

extern "C" __attribute__((noinline)) void dz_test_block_body(void* context) {
  recordOwnStack(context);
  asm volatile("");
}

extern "C" __attribute__((noinline)) void dz_test_dispatching_function() {
  crash_fixture_schedule(nullptr, dz_test_block_body);
  asm volatile("");
}

namespace {

std::ptrdiff_t positionOf(const std::vector<std::string>& frames, const std::string& name) {
  auto found = std::find(frames.begin(), frames.end(), name);
  return found == frames.end() ? -1 : found - frames.begin();
}

TEST(AsyncCallerTests, AStitchedBlockShowsItsFramesTheMarkerThenItsDispatcher) {
  // Off: the work runs without an async caller.
  gSeenFrames.clear();
  dz_test_dispatching_function();
  EXPECT_EQ(positionOf(gSeenFrames, "__dozidicrash__async_marker__"), -1);

  dozidicrash_installAsyncHooks();
  gSeenFrames.clear();
  dz_test_dispatching_function();
  std::ptrdiff_t body = positionOf(gSeenFrames, "dz_test_block_body");
  std::ptrdiff_t marker = positionOf(gSeenFrames, "__dozidicrash__async_marker__");
  std::ptrdiff_t dispatcher = positionOf(gSeenFrames, "dz_test_dispatching_function");
  ASSERT_GE(body, 0);
  EXPECT_GT(marker, body);
  EXPECT_GT(dispatcher, marker);

  // Switched off again, the rebound entry point passes the call straight through.
  dozidicrash_uninstallAsyncHooks();
  gSeenFrames.clear();
  dz_test_dispatching_function();
  EXPECT_GE(positionOf(gSeenFrames, "dz_test_block_body"), 0);
  EXPECT_EQ(positionOf(gSeenFrames, "__dozidicrash__async_marker__"), -1);
}

int replacementOne() { return 10; }
int replacementTwo() { return 20; }
int replacementQ(int) { return -1; }

TEST(AsyncCallerTests, RebindingNewestSetWinsAndShortNamesStay) {
  ASSERT_EQ(crash_fixture_call_value(), 1);
  void* replaced = nullptr;
  dozidicrash_rebinding first[] = {{"crash_fixture_value", reinterpret_cast<void*>(&replacementOne), &replaced},
                                   {"q", reinterpret_cast<void*>(&replacementQ), nullptr}};
  ASSERT_EQ(dozidicrash_rebind_symbols(first, 2), 0);
  EXPECT_EQ(crash_fixture_call_value(), 10);
  EXPECT_EQ(reinterpret_cast<int (*)()>(replaced)(), 1);
  EXPECT_EQ(crash_fixture_call_q(1), 2);

  dozidicrash_rebinding second[] = {{"crash_fixture_value", reinterpret_cast<void*>(&replacementTwo), nullptr}};
  ASSERT_EQ(dozidicrash_rebind_symbols(second, 1), 0);
  EXPECT_EQ(crash_fixture_call_value(), 20);
  // The first set's record of the original function is not overwritten by a later pass.
  EXPECT_EQ(reinterpret_cast<int (*)()>(replaced)(), 1);
}

void noWork(void*) {}

TEST(AsyncCallerTests, ANestedScheduleChainsToTheOuterCaller) {
  dozidicrash_installAsyncHooks();
  dozidicrash_async_backtrace_t* outer = dozidicrash_captureAsyncCaller();
  ASSERT_NE(outer, nullptr);
  EXPECT_EQ(outer->next, nullptr);
  EXPECT_GT(outer->len, 0u);
  struct Seen {
    dozidicrash_async_backtrace_t* outer;
    bool chained = false;
    std::uint64_t outerReferences = 0;
  } seen{outer};
  std::thread worker([&] {
    dozidicrash_runWithAsyncCaller(
        outer,
        [](void* data) {
          auto* s = static_cast<Seen*>(data);
          dozidicrash_async_backtrace_t* inner = dozidicrash_captureAsyncCaller();
          s->chained = inner != nullptr && inner->next == s->outer;
          // The outer record: the running block's reference and the inner record's.
          s->outerReferences = s->outer->refcount.load();
          dozidicrash_runWithAsyncCaller(inner, noWork, nullptr);
        },
        &seen);
  });
  worker.join();
  EXPECT_TRUE(seen.chained);
  EXPECT_EQ(seen.outerReferences, 2u);

  // A crash handler's release only counts down: the record is still readable at zero.
  dozidicrash_async_backtrace_t* kept = dozidicrash_captureAsyncCaller();
  ASSERT_NE(kept, nullptr);
  dozidicrash_releaseAsyncCallerInCrash(kept);
  EXPECT_EQ(kept->refcount.load(), 0u);
  EXPECT_GT(kept->len, 0u);
  std::free(kept);
  dozidicrash_uninstallAsyncHooks();
}

// A thread that runs commands on request and stays alive between them.
class Worker {
 public:
  Worker() : thread_([this] { loop(); }) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return id_ != 0; });
  }
  ~Worker() {
    run(nullptr);
    thread_.join();
  }
  DozidiCrashThread id() const { return id_; }
  // Starts `command` on the worker; `run(nullptr)` ends the worker.
  void run(std::function<void()> command) {
    std::lock_guard<std::mutex> lock(mutex_);
    command_ = std::move(command);
    pending_ = true;
    changed_.notify_all();
  }

 private:
  void loop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      id_ = dozidicrashthread_self();
      changed_.notify_all();
    }
    for (;;) {
      std::function<void()> command;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return pending_; });
        pending_ = false;
        command = std::move(command_);
      }
      if (!command) return;
      command();
    }
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  bool pending_ = false;
  std::function<void()> command_;
  DozidiCrashThread id_ = 0;
  std::thread thread_;
};

TEST(AsyncCallerTests, TwoThreadsInOneSlotTheSecondRunsWithoutCaller) {
  dozidicrash_installAsyncHooks();
  // Thread ids are the kernel's: start workers until two share a slot (127 slots: a few dozen).
  std::vector<std::unique_ptr<Worker>> workers;
  std::map<int, Worker*> bySlot;
  Worker* first = nullptr;
  Worker* second = nullptr;
  while (second == nullptr && workers.size() < 400) {
    workers.push_back(std::make_unique<Worker>());
    Worker* worker = workers.back().get();
    int slot = dozidicrash_asyncCallerSlotIndex(worker->id());
    if (bySlot.count(slot)) {
      first = bySlot[slot];
      second = worker;
    }
    bySlot[slot] = worker;
  }
  ASSERT_NE(second, nullptr);

  std::atomic<int> stage{0};
  std::atomic<bool> firstSaw{false}, secondSaw{true};
  std::pair<std::atomic<int>*, std::atomic<bool>*> firstData(&stage, &firstSaw);
  first->run([&] {
    dozidicrash_runWithAsyncCaller(dozidicrash_captureAsyncCaller(), [](void* data) {
      auto* s = static_cast<std::pair<std::atomic<int>*, std::atomic<bool>*>*>(data);
      dozidicrash_async_backtrace_t* own = dozidicrash_get_async_caller_for_thread(dozidicrashthread_self());
      s->second->store(own != nullptr);
      dozidicrash_releaseAsyncCaller(own);
      s->first->store(1);
      while (s->first->load() != 2) std::this_thread::yield();
    }, &firstData);
  });
  while (stage.load() != 1) std::this_thread::yield();
  second->run([&] {
    dozidicrash_runWithAsyncCaller(dozidicrash_captureAsyncCaller(), [](void* data) {
      auto* saw = static_cast<std::atomic<bool>*>(data);
      dozidicrash_async_backtrace_t* own = dozidicrash_get_async_caller_for_thread(dozidicrashthread_self());
      saw->store(own != nullptr);
      dozidicrash_releaseAsyncCaller(own);
    }, &secondSaw);
    stage.store(2);
  });
  workers.clear();
  EXPECT_TRUE(firstSaw.load());
  EXPECT_FALSE(secondSaw.load());
  dozidicrash_uninstallAsyncHooks();
}

TEST(AsyncCallerTests, ManyThreadsRegisterReadAndReleaseTheirCallers) {
  dozidicrash_installAsyncHooks();
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        dozidicrash_async_backtrace_t* record = dozidicrash_captureAsyncCaller();
        struct Check {
          dozidicrash_async_backtrace_t* expected;
          std::atomic<int>* mismatches;
        } check{record, &mismatches};
        dozidicrash_runWithAsyncCaller(record, [](void* data) {
          auto* c = static_cast<Check*>(data);
          dozidicrash_async_backtrace_t* own = dozidicrash_get_async_caller_for_thread(dozidicrashthread_self());
          // A thread sees its own record, or none when a colliding thread holds the slot.
          if (own != nullptr && own != c->expected) c->mismatches->fetch_add(1);
          dozidicrash_releaseAsyncCaller(own);
        }, &check);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
  dozidicrash_uninstallAsyncHooks();
}

}  // namespace
