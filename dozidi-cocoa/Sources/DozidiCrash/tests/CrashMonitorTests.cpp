// The monitor registry, the signal monitor and the naming tables. Registry state lasts for the
// process, so each registry case runs in a child process of its own (a death test that exits
// with a bit per failed check).
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashC.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_Signal.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMach.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashSignalInfo.h"
#include "testing/TemporaryFolder.h"

namespace {

std::string text(const char* value) { return value != nullptr ? value : "(none)"; }

TEST(CrashSignalInfoTest, FatalSignalsAreThisSystemsNumbers) {
  std::vector<int> fatal(dozidicrashsignal_fatalSignals(),
                         dozidicrashsignal_fatalSignals() + dozidicrashsignal_numFatalSignals());
  EXPECT_EQ(fatal, (std::vector<int>{SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGPIPE, SIGSEGV, SIGSYS, SIGTRAP}));
  for (int userSignal : {SIGUSR1, SIGUSR2}) {
    EXPECT_EQ(std::count(fatal.begin(), fatal.end(), userSignal), 0);
    EXPECT_EQ(dozidicrashsignal_signalName(userSignal), nullptr);
  }
}

TEST(CrashSignalInfoTest, NamesOfSignalsAndCodes) {
  struct Case {
    int signal;
    int code;
    const char* name;
    const char* codeName;
  };
  const Case cases[] = {
      {SIGSEGV, SEGV_ACCERR, "SIGSEGV", "SEGV_ACCERR"}, {SIGSEGV, SEGV_MAPERR, "SIGSEGV", "SEGV_MAPERR"},
      {SIGBUS, BUS_ADRERR, "SIGBUS", "BUS_ADRERR"},     {SIGFPE, FPE_INTDIV, "SIGFPE", "FPE_INTDIV"},
      {SIGFPE, FPE_FLTDIV, "SIGFPE", "FPE_FLTDIV"},     {SIGILL, ILL_ILLOPN, "SIGILL", "ILL_ILLOPN"},
      {SIGTRAP, TRAP_BRKPT, "SIGTRAP", "TRAP_BRKPT"},   {SIGABRT, 0, "SIGABRT", nullptr},
      {SIGSEGV, SI_TKILL, "SIGSEGV", nullptr},          {SIGTERM, 0, nullptr, nullptr},
      {SIGKILL, 1, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(text(dozidicrashsignal_signalName(c.signal)), text(c.name)) << c.signal;
    EXPECT_EQ(text(dozidicrashsignal_signalCodeName(c.signal, c.code)), text(c.codeName)) << c.signal << "/" << c.code;
  }
}

TEST(CrashMachTest, ExceptionAndKernelReturnNames) {
  EXPECT_EQ(text(dozidicrashmach_exceptionName(0)), "(none)");
  EXPECT_EQ(text(dozidicrashmach_exceptionName(1)), "EXC_BAD_ACCESS");
  EXPECT_EQ(text(dozidicrashmach_exceptionName(10)), "EXC_CRASH");
  EXPECT_EQ(text(dozidicrashmach_exceptionName(11)), "(none)");
  EXPECT_EQ(text(dozidicrashmach_kernelReturnCodeName(0)), "KERN_SUCCESS");
  EXPECT_EQ(text(dozidicrashmach_kernelReturnCodeName(2)), "KERN_PROTECTION_FAILURE");
  EXPECT_EQ(text(dozidicrashmach_kernelReturnCodeName(50)), "KERN_CODESIGN_ERROR");
  EXPECT_EQ(text(dozidicrashmach_kernelReturnCodeName(51)), "(none)");
  EXPECT_EQ(text(dozidicrashmach_kernelReturnCodeName(-1)), "(none)");
}

TEST(CrashMachTest, MappingBetweenExceptionsAndSignals) {
  struct ToSignal {
    int exception;
    std::int64_t code;
    int signal;
  };
  for (const ToSignal& c : std::initializer_list<ToSignal>{{1, 1, SIGSEGV},
                                                            {1, 2, SIGBUS},
                                                            {2, 0, SIGILL},
                                                            {3, 0, SIGFPE},
                                                            {4, 0, 0},
                                                            {5, 0x10000, SIGSYS},
                                                            {5, 0x10001, SIGPIPE},
                                                            {5, 0x10002, SIGABRT},
                                                            {5, 0x10003, SIGKILL},
                                                            {5, 0x10004, 0},
                                                            {6, 0, SIGTRAP},
                                                            {7, 0, 0}}) {
    EXPECT_EQ(dozidicrashmach_signalForMachException(c.exception, c.code), c.signal) << c.exception << "/" << c.code;
  }
  struct ToException {
    int signal;
    int exception;
  };
  for (const ToException& c : std::initializer_list<ToException>{{SIGILL, 2},
                                                                  {SIGTRAP, 6},
                                                                  {SIGABRT, 10},
                                                                  {SIGFPE, 3},
                                                                  {SIGKILL, 0x10003},
                                                                  {SIGBUS, 1},
                                                                  {SIGSEGV, 1},
                                                                  {SIGSYS, 0x10000},
                                                                  {SIGPIPE, 0x10001},
                                                                  {SIGUSR1, 0},
                                                                  {SIGUSR2, 0}}) {
    EXPECT_EQ(dozidicrashmach_machExceptionForSignal(c.signal), c.exception) << c.signal;
  }
}

void otherHandler(int) {}

bool isHandler(int signal, void (*handler)(int)) {
  struct sigaction action {};
  sigaction(signal, nullptr, &action);
  return action.sa_handler == handler;
}

TEST(CrashSignalMonitorTest, KeepsIgnoredSignalsAndPutsPreviousActionsBack) {
  struct sigaction previousPipe {}, previousBus {};
  signal(SIGPIPE, SIG_IGN);
  struct sigaction busAction {};
  busAction.sa_handler = otherHandler;
  sigaction(SIGBUS, &busAction, &previousBus);

  const DozidiCrashMonitorAPI* api = dozidicrashcm_signal_getAPI();
  for (int round = 0; round < 2; ++round) {
    api->setEnabled(true);
    EXPECT_TRUE(api->isEnabled());
    EXPECT_TRUE(isHandler(SIGPIPE, SIG_IGN));
    EXPECT_FALSE(isHandler(SIGBUS, otherHandler));
    struct sigaction installed {};
    sigaction(SIGSEGV, nullptr, &installed);
    EXPECT_TRUE(installed.sa_flags & SA_ONSTACK);
    EXPECT_TRUE(installed.sa_flags & SA_NODEFER);
    api->setEnabled(false);
    EXPECT_FALSE(api->isEnabled());
    EXPECT_TRUE(isHandler(SIGBUS, otherHandler));
  }
  sigaction(SIGBUS, &previousBus, nullptr);
  sigaction(SIGPIPE, &previousPipe, nullptr);
}

// The alternate signal stack a new thread runs with, and its memory.
struct SeenStack {
  bool enabled = false;
  void* area = nullptr;
  std::size_t size = 0;
  // The top 32 KiB, where a crash handler runs, already backed by memory.
  bool topResident = false;
};

bool allResident(const void* start, std::size_t size) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> resident(size / page);
  if (mincore(const_cast<void*>(start), size, resident.data()) != 0) return false;
  return std::all_of(resident.begin(), resident.end(), [](unsigned char r) { return (r & 1) != 0; });
}

SeenStack alternateStackOfNewThread() {
  SeenStack seen;
  std::thread([&seen] {
    stack_t current{};
    sigaltstack(nullptr, &current);
    seen = {(current.ss_flags & SS_DISABLE) == 0, current.ss_sp, current.ss_size, false};
    if (seen.enabled && current.ss_size >= 0x8000) {
      seen.topResident = allResident(static_cast<char*>(current.ss_sp) + current.ss_size - 0x8000, 0x8000);
    }
  }).join();
  return seen;
}

bool isMapped(const void* address) {
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  unsigned char resident = 0;
  return mincore(reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(address) & ~(page - 1)), page, &resident) == 0;
}

TEST(CrashSignalMonitorTest, ThreadsStartedWhileOnHaveAnAlternateStackForTheirLife) {
  const DozidiCrashMonitorAPI* api = dozidicrashcm_signal_getAPI();
  api->setEnabled(true);
  const SeenStack seen = alternateStackOfNewThread();
  const SeenStack next = alternateStackOfNewThread();
  api->setEnabled(false);
  ASSERT_TRUE(seen.enabled);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // The sanitizer runtimes give threads small stacks of their own, which are kept.
  EXPECT_EQ(next.area, seen.area) << "the first thread's alternate stack was not handed back when it ended";
  EXPECT_GE(seen.size, 64u * 1024u);
  EXPECT_TRUE(seen.topResident);
  EXPECT_TRUE(next.topResident);
  EXPECT_FALSE(alternateStackOfNewThread().enabled) << "started while the monitor was off";
#endif
}

// More threads at once than the shared stacks serve: each still gets a stack of its own, and one
// mapped for it alone is unmapped when it ends.
TEST(CrashSignalMonitorTest, ManyThreadsAtOnceEachHaveAnAlternateStack) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer runtimes give threads alternate stacks of their own";
#endif
  const DozidiCrashMonitorAPI* api = dozidicrashcm_signal_getAPI();
  api->setEnabled(true);
  constexpr int kThreads = 48;
  std::vector<SeenStack> seen(kThreads);
  std::mutex lock;
  std::condition_variable allStarted;
  int started = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      stack_t current{};
      sigaltstack(nullptr, &current);
      seen[i] = {(current.ss_flags & SS_DISABLE) == 0, current.ss_sp, current.ss_size,
                 allResident(static_cast<char*>(current.ss_sp) + current.ss_size - 0x8000, 0x8000)};
      std::unique_lock<std::mutex> guard(lock);
      ++started;
      allStarted.notify_all();
      allStarted.wait(guard, [&] { return started == kThreads; });
    });
  }
  for (auto& thread : threads) thread.join();
  api->setEnabled(false);
  std::set<void*> areas;
  for (const SeenStack& stack : seen) {
    EXPECT_TRUE(stack.enabled);
    EXPECT_TRUE(stack.topResident);
    areas.insert(stack.area);
  }
  EXPECT_EQ(areas.size(), static_cast<std::size_t>(kThreads)) << "two live threads shared an alternate stack";
  // The stacks mapped apart from the others are gone; at most the shared ones stay.
  const auto mapped = std::count_if(areas.begin(), areas.end(), [](void* area) { return isMapped(area); });
  EXPECT_LT(mapped, kThreads);
}

// Runs `body` in a child process; the child's exit code is the body's result (0: all checks held).
#define EXPECT_IN_CHILD(body) EXPECT_EXIT(_exit(body()), ::testing::ExitedWithCode(0), "")

class CrashRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

DozidiCrash_MonitorContext g_lastEvent;
int g_events = 0;
void recordEvent(DozidiCrash_MonitorContext* event) {
  g_lastEvent = *event;
  ++g_events;
}

DozidiCrash_MonitorContext makeEvent(std::uint32_t crashType, bool snapshot) {
  DozidiCrash_MonitorContext event;
  std::memset(&event, 0, sizeof(event));
  event.crashType = crashType;
  event.currentSnapshotUserReported = snapshot;
  return event;
}

constexpr std::uint32_t kSafeMonitors = DozidiCrashMonitorTypeUserReported | DozidiCrashMonitorTypeSystem;

TEST_F(CrashRegistryTest, SnapshotLeavesMonitorsOnAndTheNextCrashIsAFirstCrash) {
  EXPECT_IN_CHILD([] {
    int failures = 0;
    dozidicrashcm_setEventCallback(recordEvent);
    dozidicrashcm_setActiveMonitors(kSafeMonitors);
    if (dozidicrashcm_getActiveMonitors() != kSafeMonitors) failures |= 1;
    DozidiCrash_MonitorContext snapshot = makeEvent(DozidiCrashMonitorTypeNSException, true);
    if (dozidicrashcm_notifyFatalExceptionCaptured(false)) failures |= 2;
    dozidicrashcm_handleException(&snapshot);
    if (dozidicrashcm_getActiveMonitors() != kSafeMonitors || g_events != 1) failures |= 4;
    DozidiCrash_MonitorContext crash = makeEvent(DozidiCrashMonitorTypeSignal, false);
    if (dozidicrashcm_notifyFatalExceptionCaptured(false)) failures |= 8;
    dozidicrashcm_handleException(&crash);
    if (g_lastEvent.crashedDuringCrashHandling || dozidicrashcm_getActiveMonitors() != 0) failures |= 16;
    return failures;
  });
}

TEST_F(CrashRegistryTest, CrashWhileHandlingIsARecrashAndSwitchesEverythingOff) {
  EXPECT_IN_CHILD([] {
    int failures = 0;
    dozidicrashcm_setEventCallback(recordEvent);
    dozidicrashcm_setActiveMonitors(kSafeMonitors);
    if (dozidicrashcm_notifyFatalExceptionCaptured(false)) failures |= 1;
    if (!dozidicrashcm_notifyFatalExceptionCaptured(false)) failures |= 2;
    if (dozidicrashcm_getActiveMonitors() != 0) failures |= 4;
    DozidiCrash_MonitorContext crash = makeEvent(DozidiCrashMonitorTypeSignal, false);
    dozidicrashcm_handleException(&crash);
    if (!g_lastEvent.crashedDuringCrashHandling) failures |= 8;
    return failures;
  });
}

TEST_F(CrashRegistryTest, AfterAnAsyncSafeCaptureOnlyAsyncSafeMonitorsSwitchOn) {
  EXPECT_IN_CHILD([] {
    int failures = 0;
    dozidicrashcm_notifyFatalExceptionCaptured(true);
    dozidicrashcm_setActiveMonitors(kDozidiCrashDefaultMonitors);
    if ((dozidicrashcm_getActiveMonitors() & ~kDozidiCrashMonitorTypeAsyncSafe) != 0) failures |= 1;
    dozidicrashcm_setActiveMonitors(0);
    return failures;
  });
}

TEST_F(CrashRegistryTest, MonitorsAddTheirFactsToOtherMonitorsEvents) {
  EXPECT_IN_CHILD([] {
    int failures = 0;
    dozidicrashcm_setEventCallback(recordEvent);
    dozidicrashcm_setActiveMonitors(DozidiCrashMonitorTypeMachException | DozidiCrashMonitorTypeSignal |
                                    DozidiCrashMonitorTypeSystem);
    DozidiCrash_MonitorContext exception = makeEvent(DozidiCrashMonitorTypeNSException, true);
    dozidicrashcm_handleException(&exception);
    if (g_lastEvent.mach.type != kDozidiCrashExcCrash || g_lastEvent.signal.signum != SIGABRT) failures |= 1;
    if (g_lastEvent.System.processName == nullptr || g_lastEvent.System.memorySize == 0) failures |= 2;
    DozidiCrash_MonitorContext signal = makeEvent(DozidiCrashMonitorTypeSignal, true);
    signal.signal.signum = SIGFPE;
    dozidicrashcm_handleException(&signal);
    if (g_lastEvent.mach.type != kDozidiCrashExcArithmetic || g_lastEvent.signal.signum != SIGFPE) failures |= 4;
    dozidicrashcm_setActiveMonitors(0);
    return failures;
  });
}

TEST_F(CrashRegistryTest, InstallAppliesTheRequestOnceAndSaysWhatIsActive) {
  testing_support::TemporaryFolder folder("crash-install");
  const std::string path = folder.path();
  EXPECT_IN_CHILD([&] {
    int failures = 0;
    // Bit 0x10 belongs to no monitor: the active mask leaves it out, the requested one keeps it.
    constexpr std::uint32_t kRequested = 0x1FF;
    dozidicrash_setMonitoring(kRequested);
    const std::uint32_t active = dozidicrash_install("App", path.c_str());
    if (active != 0x1EF) failures |= 1;
    if (dozidicrash_install("App", path.c_str()) != kRequested) failures |= 2;
    if (!std::filesystem::is_directory(path + "/Reports") || !std::filesystem::is_directory(path + "/Data")) {
      failures |= 4;
    }
    dozidicrash_setMonitoring(0);
    return failures;
  });
}

TEST_F(CrashRegistryTest, MonitorsThatCannotSetUpStayOff) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer's runtime needs the address space this test takes away";
#endif
  EXPECT_IN_CHILD([] {
    // No room for another mapping: neither the alternate stack nor the zombie memory can be made.
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    std::ifstream status("/proc/self/status");
    std::string line;
    unsigned long long sizeKiB = 0;
    while (std::getline(status, line)) {
      if (line.starts_with("VmSize:")) sizeKiB = std::stoull(line.substr(7));
    }
    limit.rlim_cur = sizeKiB * 1024 + 16 * 1024;
    setrlimit(RLIMIT_AS, &limit);
    dozidicrashcm_setActiveMonitors(DozidiCrashMonitorTypeSignal | DozidiCrashMonitorTypeZombie);
    return dozidicrashcm_getActiveMonitors() == 0 && !dozidicrashcm_signal_getAPI()->isEnabled() ? 0 : 1;
  });
}

}  // namespace
