#include "platform/kernel/ThreadSampling.h"
#include "platform/kernel/ThreadState.h"
#include "platform/kernel/Threads.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A thread that spins, optionally with the sampling signal blocked until `deaf` is cleared.
struct Spinner {
  std::atomic<kernel::ThreadId> id{0};
  std::atomic<bool> deaf{false};
  std::atomic<bool> stop{false};
  std::atomic<std::uintptr_t> stackLow{0};
  std::atomic<std::uintptr_t> stackHigh{0};
  std::thread thread;

  void start(bool blockSignal) {
    deaf = blockSignal;
    thread = std::thread([this] {
      sigset_t set;
      sigemptyset(&set);
      sigaddset(&set, kernel::threadSamplingSignal());
      if (deaf) pthread_sigmask(SIG_BLOCK, &set, nullptr);
      pthread_attr_t attr;
      void* base = nullptr;
      std::size_t size = 0;
      pthread_getattr_np(pthread_self(), &attr);
      pthread_attr_getstack(&attr, &base, &size);
      pthread_attr_destroy(&attr);
      stackLow = reinterpret_cast<std::uintptr_t>(base);
      stackHigh = reinterpret_cast<std::uintptr_t>(base) + size;
      id = kernel::currentThreadId();
      bool blocked = deaf.load();
      while (!stop.load(std::memory_order_relaxed)) {
        if (blocked && !deaf.load(std::memory_order_relaxed)) {
          pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
          blocked = false;
        }
      }
    });
    while (id.load() == 0) std::this_thread::yield();
  }
  void finish() {
    stop = true;
    thread.join();
  }
};

// What each asked thread writes about itself.
struct Seen {
  kernel::ThreadId thread = 0;
  std::uint64_t stackPointer = 0;
  int runs = 0;
};

void noteSelf(const kernel::ThreadState& state, void* record) {
  auto* seen = static_cast<Seen*>(record);
  seen->thread = kernel::currentThreadId();
  seen->stackPointer = kernel::stackPointer(state);
  ++seen->runs;
}

class ThreadSamplingTests : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(kernel::installThreadSampling()); }
};

// Each asked thread runs the function once, on itself, with its own interrupted registers; the
// caller is never asked.
TEST_F(ThreadSamplingTests, EachThreadRunsTheFunctionOnItselfWithItsRegisters) {
  std::vector<Spinner> spinners(4);
  for (Spinner& spinner : spinners) spinner.start(false);
  kernel::ThreadId threads[5];
  Seen seen[5];
  void* records[5];
  for (int i = 0; i < 4; ++i) threads[i] = spinners[static_cast<std::size_t>(i)].id;
  threads[4] = kernel::currentThreadId();
  for (int i = 0; i < 5; ++i) records[i] = &seen[i];
  bool ran[5];
  EXPECT_EQ(kernel::sampleThreads(threads, 5, noteSelf, records, ran, 5000), 4);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const Spinner& spinner = spinners[static_cast<std::size_t>(i)];
    EXPECT_TRUE(ran[i]);
    EXPECT_EQ(seen[i].thread, threads[i]);
    EXPECT_EQ(seen[i].runs, 1);
    EXPECT_GE(seen[i].stackPointer, spinner.stackLow.load());
    EXPECT_LT(seen[i].stackPointer, spinner.stackHigh.load());
  }
  EXPECT_FALSE(ran[4]);
  EXPECT_EQ(seen[4].runs, 0);
  for (Spinner& spinner : spinners) spinner.finish();
}

// A thread that has the signal blocked costs the deadline only; when it unblocks it later, the
// late signal must not touch the record, which is the caller's again.
TEST_F(ThreadSamplingTests, ALateThreadCostsTheDeadlineAndNeverWritesItsRecordAfterward) {
  Spinner deaf, normal;
  deaf.start(true);
  normal.start(false);
  kernel::ThreadId threads[2] = {deaf.id, normal.id};
  Seen seen[2];
  void* records[2] = {&seen[0], &seen[1]};
  bool ran[2];
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(kernel::sampleThreads(threads, 2, noteSelf, records, ran, 1000), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  EXPECT_FALSE(ran[0]);
  EXPECT_TRUE(ran[1]);

  // The late signal is delivered now; the slot it names may already serve another request.
  deaf.deaf = false;
  for (int round = 0; round < 20; ++round) {
    Seen again;
    void* record = &again;
    bool ranAgain = false;
    kernel::ThreadId id = normal.id;
    EXPECT_EQ(kernel::sampleThreads(&id, 1, noteSelf, &record, &ranAgain, 5000), 1);
    EXPECT_EQ(again.thread, normal.id.load());
    EXPECT_EQ(again.runs, 1);
  }
  deaf.finish();
  EXPECT_EQ(seen[0].runs, 0);
  normal.finish();
}

// A thread still running the function at the deadline (preempted there, or slow) is waited for:
// the caller gets its records back only once every thread that started has finished.
void noteSelfSlowly(const kernel::ThreadState& state, void* record) {
  timespec start{}, now{};
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  do {
    ::clock_gettime(CLOCK_MONOTONIC, &now);
  } while ((now.tv_sec - start.tv_sec) * 1000000000L + (now.tv_nsec - start.tv_nsec) < 100000000L);
  noteSelf(state, record);
}

TEST_F(ThreadSamplingTests, AThreadStillRunningTheFunctionAtTheDeadlineIsWaitedFor) {
  Spinner spinner;
  spinner.start(false);
  kernel::ThreadId id = spinner.id;
  Seen seen;
  void* record = &seen;
  bool ran = false;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(kernel::sampleThreads(&id, 1, noteSelfSlowly, &record, &ran, 5000), 1);
  EXPECT_TRUE(ran);
  EXPECT_EQ(seen.runs, 1);
  EXPECT_EQ(seen.thread, spinner.id.load());
  EXPECT_GE(std::chrono::steady_clock::now() - started, 100ms);

  // Here the deadline passes while the thread is inside the function, once the thread takes the
  // signal within the deadline; a loaded machine may need a few tries for that.
  int waitedFor = 0;
  for (int attempt = 0; attempt < 20 && waitedFor == 0; ++attempt) {
    Seen late;
    record = &late;
    const auto asked = std::chrono::steady_clock::now();
    if (kernel::sampleThreads(&id, 1, noteSelfSlowly, &record, &ran, 20) == 1) {
      ++waitedFor;
      EXPECT_EQ(late.runs, 1);
      EXPECT_GE(std::chrono::steady_clock::now() - asked, 100ms);
    } else {
      EXPECT_EQ(late.runs, 0);
    }
  }
  EXPECT_EQ(waitedFor, 1);
  spinner.finish();
}

// Two callers asking the same threads at once each get every answer in their own records.
TEST_F(ThreadSamplingTests, CallersAskingAtOnceGetTheirOwnAnswers) {
  std::vector<Spinner> spinners(3);
  for (Spinner& spinner : spinners) spinner.start(false);
  kernel::ThreadId threads[3];
  for (int i = 0; i < 3; ++i) threads[i] = spinners[static_cast<std::size_t>(i)].id;
#if defined(__SANITIZE_THREAD__)
  // The thread sanitizer keeps one pending signal per number, so a thread asked twice at once
  // answers one of the two requests: the other caller waits for its deadline.
  constexpr long kDeadline = 200;
#else
  constexpr long kDeadline = 5000;
#endif
  std::atomic<int> crossed{0}, missing{0};
  auto ask = [&] {
    for (int round = 0; round < 50; ++round) {
      Seen seen[3];
      void* records[3] = {&seen[0], &seen[1], &seen[2]};
      bool ran[3];
      kernel::sampleThreads(threads, 3, noteSelf, records, ran, kDeadline);
      for (int i = 0; i < 3; ++i) {
        if (!ran[i]) {
          missing.fetch_add(1);
          if (seen[i].runs != 0) crossed.fetch_add(1);
        } else if (seen[i].thread != threads[i] || seen[i].runs != 1) {
          crossed.fetch_add(1);
        }
      }
    }
  };
  std::thread other(ask);
  ask();
  other.join();
  EXPECT_EQ(crossed.load(), 0);
#if !defined(__SANITIZE_THREAD__)
  EXPECT_EQ(missing.load(), 0);
#endif
  for (Spinner& spinner : spinners) spinner.finish();
}

// A round asks thread by thread and waits once: threads asked first may answer before the last
// is asked, each answer lands in its own record by request index, the caller and an ended
// thread are refused, and the round serves again after it is finished.
TEST_F(ThreadSamplingTests, ARoundAsksOneAtATimeAndWaitsOnce) {
  std::vector<Spinner> spinners(3);
  for (Spinner& spinner : spinners) spinner.start(false);
  kernel::ThreadId ended = 0;
  std::thread([&] { ended = kernel::currentThreadId(); }).join();

  kernel::SamplingRound round(noteSelf);
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    Seen seen[3];
    int index[3];
    for (int i = 0; i < 3; ++i) {
      index[i] = round.ask(spinners[static_cast<std::size_t>(i)].id, &seen[i]);
      EXPECT_EQ(index[i], i);
    }
    Seen refused;
    EXPECT_EQ(round.ask(kernel::currentThreadId(), &refused), -1);
    EXPECT_EQ(round.ask(0, &refused), -1);
    // A thread id is seldom reused at once; when it was, the new thread answers instead.
    const bool reused = ::access(("/proc/self/task/" + std::to_string(ended)).c_str(), F_OK) == 0;
    if (!reused) {
      EXPECT_EQ(round.ask(ended, &refused), -1);
    }
    EXPECT_EQ(round.asked(), 3);
    bool ran[kernel::SamplingRound::kCapacity];
    EXPECT_EQ(round.finish(ran, 5000), 3);
    EXPECT_EQ(round.asked(), 0);
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(ran[index[i]]);
      EXPECT_EQ(seen[i].thread, spinners[static_cast<std::size_t>(i)].id.load());
      EXPECT_EQ(seen[i].runs, 1);
    }
    EXPECT_EQ(refused.runs, 0);
  }
  for (Spinner& spinner : spinners) spinner.finish();
}

// A request given up at the deadline is not waited for by the round's later requests.
TEST_F(ThreadSamplingTests, ARoundReusedAfterAMissedDeadlineWaitsOnlyForItsNewRequests) {
  Spinner deaf, normal;
  deaf.start(true);
  normal.start(false);
  kernel::SamplingRound round(noteSelf);
  Seen missed, answered;
  bool ran[kernel::SamplingRound::kCapacity];
  ASSERT_EQ(round.ask(deaf.id, &missed), 0);
  EXPECT_EQ(round.finish(ran, 50), 0);
  ASSERT_EQ(round.ask(normal.id, &answered), 0);
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_EQ(round.finish(ran, 10000), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 5s);
  EXPECT_EQ(answered.runs, 1);
  deaf.deaf = false;
  deaf.finish();
  normal.finish();
  EXPECT_EQ(missed.runs, 0);
}

// A round that goes out of scope unfinished settles its requests first: a thread that already
// took the signal finishes writing its record before the record's owner moves on.
TEST_F(ThreadSamplingTests, ARoundLeftUnfinishedSettlesItsRequests) {
  Spinner spinner;
  spinner.start(false);
  Seen seen;
  {
    kernel::SamplingRound round(noteSelfSlowly);
    ASSERT_EQ(round.ask(spinner.id, &seen), 0);
    // Give the thread time to take the signal, so that it is inside the function at the end.
    std::this_thread::sleep_for(20ms);
  }
  const int runs = seen.runs;
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(seen.runs, runs);  // nothing writes the record after the round has gone
  spinner.finish();
}

}  // namespace
