// A program that starts the reporter as an app does, with the crash, app-hang and out-of-memory
// integrations, and then lives the way its first argument says:
//   lifecycle_child <mode> <DSN> <ready file>
// "hang" and "hang-background": the main thread blocks 4 s in the foreground (or after entering
//   the background), then answers again; prints "detected=N stopped=M" and exits 0.
// "oom-kill", "oom-normal", "oom-crash", "oom-hang-kill": becomes active, adds breadcrumbs "1" to
//   "7" (at most 3 kept), and then waits to be killed, terminates in order, aborts, or hangs until
//   killed. The ready file appears once the app state on disk shows what the parent waits for.
// "start": starts, gives the previous run's check time to run, sends what there is and exits 0.
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "dozidi-cocoa/Sources/Dozidi/AppHangs/DozidiANRTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/AppHangs/DozidiANRTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppState.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/OutOfMemory/DozidiOutOfMemoryTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiBreadcrumb.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/RetryOnInterrupt.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

class Counter final : public DozidiANRTrackerDelegate {
 public:
  void anrDetected() override { detected.fetch_add(1); }
  void anrStopped() override { stopped.fetch_add(1); }
  std::atomic<int> detected{0}, stopped{0};
};

void post(const char* name) { foundation::NotificationCenter::defaultCenter().post(name); }

// A frame of its own: the system's sleep keeps no frame pointer, so a stack walk from inside it
// passes over its direct caller.
__attribute__((noinline)) void sleepSeconds(double seconds) {
  timespec rest{static_cast<time_t>(seconds), static_cast<long>((seconds - static_cast<time_t>(seconds)) * 1e9)};
  (void)foundation::retryOnInterrupt([&] { return ::nanosleep(&rest, &rest); });
}

/// Creates `readyFile` once `holds` is true of the stored app state (checked on a thread of its
/// own, as the main thread may be blocked).
void announceWhen(const std::string& readyFile, bool (*holds)(const DozidiAppState&)) {
  auto fileManager = DozidiSDK::currentHub()->getClient()->fileManager();
  std::thread([fileManager, readyFile, holds] {
    for (;;) {
      auto state = fileManager->readAppState();
      if (state && holds(*state)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::ofstream(readyFile) << "ready\n";
  }).detach();
}

}  // namespace

extern "C" __attribute__((noinline)) void lifecycle_child_block_main_thread(double seconds) {
  sleepSeconds(seconds);
  asm volatile("" ::: "memory");
}

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s <mode> <DSN> <ready file>\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  const std::string dsn = argv[2];
  const std::string readyFile = argv[3];
  DozidiCrashIntegration::registerWithSDK();
  DozidiANRTrackingIntegration::registerWithSDK();
  DozidiOutOfMemoryTrackingIntegration::registerWithSDK();
  DozidiSDK::startWithConfigureOptions([&](DozidiOptions& options) {
    options.setDsn(dsn);
    options.releaseName = "lifecycle@1.0";
    options.debug = true;
    options.enableAppHangTracking = true;
    options.appHangTimeoutInterval = 2.0;
    options.maxBreadcrumbs = 3;
    options.setIntegrations(
        {"DozidiCrashIntegration", "DozidiANRTrackingIntegration", "DozidiOutOfMemoryTrackingIntegration"});
    options.addInAppInclude("lifecycle_child");
  });

  if (mode == "start") {
    // The previous run's check runs on a queue of its own right after the start.
    sleepSeconds(0.5);
    DozidiSDK::flush(10);
    return 0;
  }
  if (mode == "hang" || mode == "hang-background") {
    auto counter = std::make_shared<Counter>();
    DozidiDependencyContainer::sharedInstance()->getANRTracker(2.0)->addListener(counter);
    if (mode == "hang-background") post("UIApplicationDidEnterBackgroundNotification");
    // Twice the tracker's 2 s: a loaded machine that stretches its 0.4 s passes still sees the hang.
    lifecycle_child_block_main_thread(4.0);
    dispatch::runMainLoopUntil([&] { return counter->stopped.load() > 0; }, 5.0);
    DozidiSDK::flush(10);
    std::printf("detected=%d stopped=%d\n", counter->detected.load(), counter->stopped.load());
    return 0;
  }

  post("UIApplicationDidBecomeActiveNotification");
  for (int i = 1; i <= 7; ++i) {
    auto crumb = DozidiBreadcrumb::initWithLevel(DozidiEventLevel::Info, "lifecycle");
    crumb->message = std::to_string(i);
    DozidiSDK::addBreadcrumb(crumb);
  }
  if (mode == "oom-kill") {
    announceWhen(readyFile, [](const DozidiAppState& s) { return s.isActive(); });
    for (;;) ::pause();
  }
  if (mode == "oom-hang-kill") {
    announceWhen(readyFile, [](const DozidiAppState& s) { return s.isActive() && s.isANROngoing(); });
    for (;;) lifecycle_child_block_main_thread(3600);
  }
  // Lets the state manager record the activation before the run ends.
  auto fileManager = DozidiSDK::currentHub()->getClient()->fileManager();
  for (int i = 0; i < 500; ++i) {
    auto state = fileManager->readAppState();
    if (state && state->isActive()) break;
    sleepSeconds(0.01);
  }
  if (mode == "oom-crash") std::abort();
  if (mode == "oom-normal") {
    post("UIApplicationWillTerminateNotification");
    DozidiSDK::flush(10);
    return 0;
  }
  std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
  return 2;
}
