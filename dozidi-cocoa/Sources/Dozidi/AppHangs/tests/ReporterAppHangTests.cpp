// The hang watchdog on the manual clock: a main queue that stops answering is reported once in the
// foreground and never in the background, its end is reported either way, a late wake-up is
// ignored, and the watchdog runs exactly while there are listeners.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "dozidi-cocoa/Sources/Dozidi/AppHangs/DozidiANRTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/AppHangs/DozidiANRTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiException.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiSysctl.h"
#include "platform/dispatch/MainRunLoop.h"
#include "testing/ScopedManualClock.h"

namespace {

class Foreground final : public DozidiCrashWrapper {
 public:
  bool isApplicationInForeground() override { return inForeground.load(); }
  std::atomic<bool> inForeground{true};
};

/// Sleeps on the process clock, so the test wakes the watchdog by advancing the manual clock.
class ClockSleep final : public DozidiThreadWrapper {
 public:
  void sleepForTimeInterval(double seconds) override {
    {
      std::lock_guard guard(threadsLock);
      ++sleepsByThread[std::this_thread::get_id()];
    }
    entered.fetch_add(1);
    dispatch::Clock& clock = dispatch::Clock::current();
    std::mutex mutex;
    std::condition_variable never;
    std::unique_lock lock(mutex);
    const double deadline = clock.deadlineAfter(seconds);
    while (clock.uptime() < deadline) clock.waitUntil(never, lock, deadline, [] { return false; });
  }
  /// The most sleeps any one thread has begun. A watchdog cancelled before it woke sleeps at
  /// most once, so a thread at two or more is one that is running.
  int mostSleepsOfOneThread() {
    std::lock_guard guard(threadsLock);
    int most = 0;
    for (const auto& [thread, sleeps] : sleepsByThread) most = std::max(most, sleeps);
    return most;
  }
  void forgetThreads() {
    std::lock_guard guard(threadsLock);
    sleepsByThread.clear();
  }
  std::atomic<int> entered{0};
  std::mutex threadsLock;
  std::map<std::thread::id, int> sleepsByThread;
};

/// The app-hang watchdog threads alive in this process, found by the name each gives itself
/// (which the system cuts to 15 bytes).
int watchdogThreads() {
  const std::string name = std::string("io.dozidi.app-hang-tracker").substr(0, 15);
  int count = 0;
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
    std::ifstream comm(task.path() / "comm");
    std::string line;
    if (std::getline(comm, line) && line == name) ++count;
  }
  return count;
}

class Counter final : public DozidiANRTrackerDelegate {
 public:
  void anrDetected() override { detected.fetch_add(1); }
  void anrStopped() override { stopped.fetch_add(1); }
  std::atomic<int> detected{0}, stopped{0};
};

constexpr double kTimeout = 2.0;

class ReporterAppHangTests : public ::testing::Test {
 protected:
  void TearDown() override {
    // Lets the watchdog see its cancellation and end, so no thread outlives the test's clock.
    if (tracker_) tracker_->clear();
    clock_->advance(1);
    for (int i = 0; i < 2000 && clock_->waiterCount() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    dispatch::drainMainQueue();
  }
  std::shared_ptr<DozidiANRTracker> makeTracker(double timeout = kTimeout) {
    return tracker_ = DozidiANRTracker::create(timeout, DozidiDefaultCurrentDateProvider::sharedInstance(), crash_,
                                    DozidiDispatchQueueWrapper::create(), sleeper_);
  }
  /// Waits (in real time, bounded) until `condition` holds.
  static bool waitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 5000; ++i) {
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  /// Lets the watchdog through `passes` sleeps without the main queue answering: each time it is
  /// woken, and the next pass waits until it sleeps again.
  void pass(int passes, double seconds = kTimeout / 5) {
    for (int i = 0; i < passes; ++i) {
      ASSERT_TRUE(waitFor([&] { return clock_->waiterCount() >= 1; }));
      const int before = sleeper_->entered.load();
      clock_->advance(seconds);
      ASSERT_TRUE(waitFor([&] { return sleeper_->entered.load() > before && clock_->waiterCount() >= 1; }));
    }
  }

  testing_support::ScopedManualClock clock_;
  std::shared_ptr<ClockSleep> sleeper_ = std::make_shared<ClockSleep>();
  std::shared_ptr<DozidiANRTracker> tracker_;
  std::shared_ptr<Foreground> crash_ = std::make_shared<Foreground>();
  std::shared_ptr<Counter> counter_ = std::make_shared<Counter>();
};

TEST_F(ReporterAppHangTests, HangIsReportedOnceInTheForegroundAndItsEndOnce) {
  auto tracker = makeTracker();
  tracker->addListener(counter_);
  pass(4);
  EXPECT_EQ(counter_->detected.load(), 0);
  pass(6);
  EXPECT_EQ(counter_->detected.load(), 1);
  EXPECT_EQ(counter_->stopped.load(), 0);
  // The main queue answers: every waiting block runs, the first one ends the hang.
  dispatch::drainMainQueue();
  EXPECT_EQ(counter_->stopped.load(), 1);
  // A second hang needs the answer first, and is then reported again.
  pass(6);
  EXPECT_EQ(counter_->detected.load(), 2);
}

TEST_F(ReporterAppHangTests, HangInTheBackgroundIsNotReportedButItsEndIs) {
  crash_->inForeground = false;
  auto tracker = makeTracker();
  tracker->addListener(counter_);
  pass(10);
  EXPECT_EQ(counter_->detected.load(), 0);
  // Coming to the foreground during the same hang does not report it late.
  crash_->inForeground = true;
  pass(3);
  EXPECT_EQ(counter_->detected.load(), 0);
  dispatch::drainMainQueue();
  EXPECT_EQ(counter_->stopped.load(), 1);
}

TEST_F(ReporterAppHangTests, PassesThatWokeFarTooLateAreIgnored) {
  auto tracker = makeTracker();
  tracker->addListener(counter_);
  // Each sleep lasts a whole timeout longer than asked, as when the device slept.
  pass(8, kTimeout * 2);
  EXPECT_EQ(counter_->detected.load(), 0);
}

TEST_F(ReporterAppHangTests, WatchdogRunsWhileThereAreListenersAndNeverTwice) {
  auto tracker = makeTracker();
  auto second = std::make_shared<Counter>();
  tracker->addListener(counter_);
  tracker->addListener(second);
  EXPECT_TRUE(tracker->isRunning());
  tracker->removeListener(counter_.get());
  EXPECT_TRUE(tracker->isRunning());
  tracker->removeListener(second.get());
  EXPECT_FALSE(tracker->isRunning());

  // Stopped right after it started, then started again: one watchdog, not an orphan beside it.
  sleeper_->forgetThreads();
  tracker->addListener(counter_);
  tracker->removeListener(counter_.get());
  tracker->addListener(counter_);
  tracker->addListener(counter_);
  // A cancelled watchdog ends when it next wakes, so the clock moves until the running watchdog
  // has slept twice and is the only one left; a second running watchdog never goes away.
  ASSERT_TRUE(waitFor([&] {
    if (clock_->waiterCount() > 0) clock_->advance(kTimeout / 5);
    return sleeper_->mostSleepsOfOneThread() >= 2 && watchdogThreads() == 1;
  })) << watchdogThreads() << " watchdog threads";
  // From an answered main queue, the one watchdog reports the next hang once, after five
  // unanswered passes.
  pass(1);
  dispatch::drainMainQueue();
  const int detected = counter_->detected.load();
  pass(5);
  EXPECT_EQ(counter_->detected.load(), detected);
  pass(1);
  EXPECT_EQ(counter_->detected.load(), detected + 1);
  EXPECT_EQ(watchdogThreads(), 1);
  tracker->clear();
  EXPECT_FALSE(tracker->isRunning());
}

TEST_F(ReporterAppHangTests, TimeoutOfZeroOrLessNeverStartsTheWatchdog) {
  for (double timeout : {0.0, -1.0}) {
    auto tracker = makeTracker(timeout);
    tracker->addListener(counter_);
    EXPECT_FALSE(tracker->isRunning()) << timeout;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(clock_->waiterCount(), 0u) << timeout;
    tracker->clear();
  }
}

TEST(ReporterAppHangEventTests, EventCarriesTheMessageAndTheMainThreadsStack) {
  auto main = DozidiThread::initWithThreadId(foundation::Number::fromInt64(0));
  main->stacktrace = DozidiStacktrace::initWithFrames({}, {});
  auto other = DozidiThread::initWithThreadId(foundation::Number::fromInt64(1));
  other->stacktrace = DozidiStacktrace::initWithFrames({}, {});
  const struct {
    double timeout;
    const char* message;
  } cases[] = {{2.0, "App hanging for at least 2000 ms."},
               {0.0019, "App hanging for at least 1 ms."},
               {1e300, "App hanging for at least 9223372036854775807 ms."}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    auto event = DozidiANRTrackingIntegration::appHangEvent(c.timeout, std::vector<std::shared_ptr<DozidiThread>>{main, other});
    EXPECT_EQ(event->level, DozidiEventLevel::Error);
    ASSERT_TRUE(event->exceptions && event->exceptions->size() == 1);
    const auto& exception = *event->exceptions->front();
    EXPECT_EQ(exception.value, c.message);
    EXPECT_EQ(exception.type, "App Hanging");
    EXPECT_EQ(exception.mechanism->type, "AppHang");
    EXPECT_FALSE(exception.mechanism->handled.has_value());
    EXPECT_EQ(exception.stacktrace, main->stacktrace);
    ASSERT_TRUE(event->threads && event->threads->size() == 2);
    EXPECT_EQ((*event->threads)[0]->current, true);
    EXPECT_EQ((*event->threads)[1]->current, false);
  }
}

}  // namespace
