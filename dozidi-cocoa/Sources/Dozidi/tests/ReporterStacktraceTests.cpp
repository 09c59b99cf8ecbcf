// Stack traces of the calling thread from the crash recorder's stack cursor.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiFrame.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiStacktrace.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiThreadInspector.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashStackCursor.h"

namespace {

std::shared_ptr<DozidiStacktraceBuilder> builder() {
  return std::make_shared<DozidiStacktraceBuilder>(
      std::make_shared<DozidiCrashStackEntryMapper>(DozidiInAppLogic({"ReporterStacktraceTests"}, {})));
}

}  // namespace

// Exported (not in an anonymous namespace) so that the dynamic symbol table names it.
extern "C" __attribute__((noinline)) std::vector<std::shared_ptr<DozidiThread>> reporterStacktraceCallingFunction() {
  auto threads = DozidiDefaultThreadInspector(builder()).getCurrentThreads();
  asm volatile("" ::: "memory");  // keeps the call from becoming a tail call
  return threads;
}

std::atomic<bool> reporterStacktraceRelease{false};
std::atomic<int> reporterStacktraceWaiting{0};

// Where the helper threads wait while their stacks are taken: spinning, so that the thread is
// stopped inside this function and not in a library call below it.
extern "C" __attribute__((noinline)) void reporterStacktraceWaitingFunction() {
  ++reporterStacktraceWaiting;
  while (!reporterStacktraceRelease.load(std::memory_order_relaxed)) asm volatile("" ::: "memory");
}

namespace {

TEST(ReporterStacktraceTests, EveryThreadsStackIsTakenWithTheMainThreadFirst) {
  std::vector<std::thread> helpers;
  for (int i = 0; i < 3; ++i) helpers.emplace_back(reporterStacktraceWaitingFunction);
  while (reporterStacktraceWaiting < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // A thread that misses the kernel layer's stop deadline (a loaded machine) keeps running and
  // has no stack this time: the walk is taken again, a few times at most.
  std::vector<std::shared_ptr<DozidiThread>> threads;
  int waiting = 0;
  for (int attempt = 0; attempt < 5 && waiting != 3; ++attempt) {
    threads = DozidiDefaultThreadInspector(builder()).getCurrentThreadsWithStackTrace();
    waiting = 0;
    for (const auto& thread : threads) {
      if (!thread->stacktrace) continue;
      for (const auto& frame : thread->stacktrace->frames) {
        waiting += frame->function == "reporterStacktraceWaitingFunction";
      }
    }
  }
  reporterStacktraceRelease = true;
  for (auto& helper : helpers) helper.join();

  ASSERT_GE(threads.size(), 4u);
  // The test runs on the main thread: first and current.
  EXPECT_EQ(threads[0]->current, true);
  EXPECT_EQ(waiting, 3);
}

TEST(ReporterStacktraceTests, TheCurrentThreadsStackHoldsItsCallerAndNoneOfTheReportersFramesInnermost) {
  const auto threads = reporterStacktraceCallingFunction();
  ASSERT_EQ(threads.size(), 1u);
  const auto& thread = threads[0];
  EXPECT_EQ(thread->current, true);
  EXPECT_EQ(thread->crashed, false);
  ASSERT_TRUE(thread->stacktrace);
  const auto& frames = thread->stacktrace->frames;
  ASSERT_FALSE(frames.empty());
  // Innermost last: the reporter's own image is cut off, so the caller is innermost.
  const auto& innermost = frames.back();
  ASSERT_TRUE(innermost->package);
  const std::string image = innermost->package->substr(innermost->package->find_last_of('/') + 1);
  EXPECT_EQ(image.find("dozidi"), std::string::npos) << *innermost->package;
  EXPECT_EQ(innermost->function, "reporterStacktraceCallingFunction");
  bool found = false;
  for (const auto& frame : frames) {
    if (frame->function && *frame->function == "reporterStacktraceCallingFunction") {
      found = true;
      EXPECT_EQ(frame->inApp, foundation::Number::fromBool(true));
    }
  }
  EXPECT_TRUE(found) << [&] {
    std::string all;
    for (const auto& f : frames) all += f->function.value_or("?") + " @ " + f->package.value_or("?") + "\n";
    return all;
  }();
}

TEST(ReporterStacktraceTests, AsyncMarkersStartTheStackBeforeThemAndMakeNoFrame) {
  const DozidiCrashStackEntry entries[] = {
      {kDozidiCrashAsyncMarker, nullptr, 0, nullptr, 0},
      {0x1010, "/app/bin/fendrel", 0x1000, "inner", 0x1008},
      {kDozidiCrashAsyncMarker, nullptr, 0, nullptr, 0},
      {0x2010, "/app/bin/fendrel", 0x1000, "outer", 0x2000},
  };
  const auto trace = builder()->buildStackTraceFromStackEntries(entries, 4);
  ASSERT_EQ(trace->frames.size(), 2u);
  EXPECT_EQ(trace->frames[0]->function, "outer");
  EXPECT_FALSE(trace->frames[0]->stackStart);
  EXPECT_EQ(trace->frames[1]->function, "inner");
  EXPECT_EQ(trace->frames[1]->stackStart, foundation::Number::fromBool(true));
  EXPECT_EQ(trace->frames[1]->instructionAddress, "0x0000000000001010");
}

}  // namespace
