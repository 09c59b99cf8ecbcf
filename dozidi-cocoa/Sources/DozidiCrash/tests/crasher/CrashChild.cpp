// A program that crashes on purpose, for the crash path's tests. Usage:
//   crash_child <scenario> <install folder>
// It installs the crash recorder into the folder, starts a few helper threads, writes facts the
// tests compare against into "<folder>/child-facts.json", then crashes for real in one of the
// crash_* functions below. The crash functions are exported so that reports can name them.
#include <dirent.h>
#include <dlfcn.h>
#include <malloc.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>

#include "AllocationTrap.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashC.h"
#include "platform/runtime/NSException.h"
#include "platform/runtime/ObjectRuntime.h"

extern "C" void crash_null_dereference();

namespace {

constexpr int kHelperThreads = 3;

std::string g_folder;
std::atomic<bool> g_helpersStop{false};
std::atomic<int> g_helpersRunning{0};
// Incremented without pause by one helper thread: it stands still only while the helpers are
// stopped.
std::atomic<unsigned long long> g_counter{0};
std::atomic<int> g_crashersReady{0};

void* helperThread(void*) {
  g_helpersRunning.fetch_add(1);
  while (!g_helpersStop.load(std::memory_order_relaxed)) g_counter.fetch_add(1, std::memory_order_relaxed);
  return nullptr;
}

int countThreads() {
  int count = 0;
  DIR* directory = opendir("/proc/self/task");
  if (directory == nullptr) return -1;
  while (dirent* entry = readdir(directory)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(directory);
  return count;
}

void writeFile(const std::string& name, const std::string& text) {
  FILE* file = std::fopen((g_folder + "/" + name).c_str(), "w");
  if (file == nullptr) return;
  std::fputs(text.c_str(), file);
  std::fclose(file);
}

void appendFile(const std::string& name, const char* text) {
  const int fd = open((g_folder + "/" + name).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  (void)!write(fd, text, std::strlen(text));
  close(fd);
}

// The user-section callbacks.
void writeCounterTwice(const DozidiCrashReportWriter* writer) {
  const unsigned long long before = g_counter.load();
  timespec pause{0, 50 * 1000 * 1000};
  while (nanosleep(&pause, &pause) != 0) {
  }
  const unsigned long long after = g_counter.load();
  writer->addUIntegerElement(writer, "counter_before", before);
  writer->addUIntegerElement(writer, "counter_after", after);
}

volatile int* volatile g_nullPointer = nullptr;

void faultInCallback(const DozidiCrashReportWriter* writer) {
  writer->addStringElement(writer, "callback", "about to fault");
  *g_nullPointer = 1;
}

std::atomic<int> g_statisticsThread{0};
std::atomic<bool> g_standardOutputHeld{false};

void* loadBlockingLibrary(void*) {
  dlopen(BLOCKING_FIXTURE, RTLD_NOW);
  return nullptr;
}

void* printMallocStatistics(void*) {
  g_statisticsThread.store(static_cast<int>(gettid()));
  // Writes to standard error (a full pipe) while it holds the allocator's main lock.
  malloc_stats();
  return nullptr;
}

void* holdStandardOutput(void*) {
  flockfile(stdout);
  g_standardOutputHeld.store(true);
  for (;;) pause();
  return nullptr;
}

// True once the thread waits in a write system call (read from /proc without allocating).
bool isWaitingInWrite(int tid) {
  char path[64] = "/proc/self/task/";
  char digits[16];
  int length = 0;
  for (int value = tid; value > 0; value /= 10) digits[length++] = static_cast<char>('0' + value % 10);
  std::size_t position = std::strlen(path);
  while (length > 0) path[position++] = digits[--length];
  std::memcpy(path + position, "/syscall", 9);
  const int fd = open(path, O_RDONLY);
  if (fd < 0) return false;
  char text[8] = {};
  const ssize_t count = read(fd, text, sizeof(text) - 1);
  close(fd);
  return count >= 2 && text[0] == '1' && text[1] == ' ';
}

// Parks helper threads inside the dynamic loader's lock, the allocator's main lock and the
// standard output and error locks, as a crash may find them.
void parkLockHolders() {
  int loaded[2];
  if (pipe(loaded) != 0) return;
  setenv("CRASH_CHILD_LOADED_FD", std::to_string(loaded[1]).c_str(), 1);
  pthread_t thread;
  pthread_create(&thread, nullptr, loadBlockingLibrary, nullptr);
  char byte;
  (void)!read(loaded[0], &byte, 1);

  pthread_create(&thread, nullptr, holdStandardOutput, nullptr);
  while (!g_standardOutputHeld.load()) {
  }

  // Last, as nothing can allocate once it waits: not even starting a thread.
  int full[2];
  if (pipe(full) != 0) return;
  fcntl(full[1], F_SETFL, O_NONBLOCK);
  char block[4096] = {};
  while (write(full[1], block, sizeof(block)) > 0) {
  }
  fcntl(full[1], F_SETFL, 0);
  dup2(full[1], 2);
  pthread_create(&thread, nullptr, printMallocStatistics, nullptr);
  while (g_statisticsThread.load() == 0 || !isWaitingInWrite(g_statisticsThread.load())) {
  }
}

// Attachment callbacks: each leaves a file named after itself in the folder it is given.
void writeMarker(const char* folder, const char* name) {
  char path[512];
  std::size_t length = std::strlen(folder);
  if (length + std::strlen(name) + 2 > sizeof(path)) return;
  std::memcpy(path, folder, length);
  path[length] = '/';
  std::strcpy(path + length + 1, name);
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) close(fd);
}
void saveScreenshots(const char* folder) { writeMarker(folder, "screenshot"); }
void saveViewHierarchy(const char* folder) { writeMarker(folder, "view-hierarchy"); }

void previousUncaughtExceptionHandler(runtime::NSException*) { appendFile("uncaught-handler-calls", "x"); }

// The floor the crash path is measured against: a handler that only writes 64 KiB, prepared
// beforehand, in one call into a new file of "Reports", then lets the fault end the process.
constexpr std::size_t kReferenceReportSize = 64 * 1024;
char g_referencePath[512];
char g_referenceReport[kReferenceReportSize];

void writeReferenceReport(int signal, siginfo_t*, void*) {
  const int fd = open(g_referencePath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd >= 0) {
    (void)!write(fd, g_referenceReport, sizeof g_referenceReport);
    close(fd);
  }
  std::signal(signal, SIG_DFL);
  raise(signal);
}

void installReferenceHandler() {
  std::snprintf(g_referencePath, sizeof g_referencePath, "%s/Reports/reference.json", g_folder.c_str());
  std::memset(g_referenceReport, ' ', sizeof g_referenceReport);
  struct sigaction action {};
  action.sa_sigaction = writeReferenceReport;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, nullptr);
}

// The recorder prepares what its crash path reads (thread names, the loaded images and their
// symbol tables) on its own thread after install. Waits until that thread idles between refreshes
// (seen in a futex wait three times in a row), as it does for nearly all of an app's life, or 5 s.
void waitForRecorderPreparation() {
  int cacheThread = 0;
  DIR* directory = opendir("/proc/self/task");
  while (dirent* entry = directory != nullptr ? readdir(directory) : nullptr) {
    if (entry->d_name[0] == '.') continue;
    FILE* comm = std::fopen(("/proc/self/task/" + std::string(entry->d_name) + "/comm").c_str(), "r");
    char name[32] = {};
    if (comm != nullptr && std::fgets(name, sizeof name, comm) != nullptr && std::strncmp(name, "DzCrash Cached", 14) == 0) {
      cacheThread = std::atoi(entry->d_name);
    }
    if (comm != nullptr) std::fclose(comm);
  }
  if (directory != nullptr) closedir(directory);
  if (cacheThread == 0) return;
  const std::string syscallPath = "/proc/self/task/" + std::to_string(cacheThread) + "/syscall";
  int idleInARow = 0;
  for (int attempt = 0; attempt < 1000 && idleInARow < 3; ++attempt) {
    FILE* file = std::fopen(syscallPath.c_str(), "r");
    char text[16] = {};
    const bool idle = file != nullptr && std::fgets(text, sizeof text, file) != nullptr && std::strncmp(text, "202 ", 4) == 0;
    if (file != nullptr) std::fclose(file);
    idleInARow = idle ? idleInARow + 1 : 0;
    usleep(5000);
  }
}

// Idle threads up to 20 in all, then, once the recorder's preparation is done, the fault; its wall-clock time goes to "fault-time".
[[noreturn]] void crashWithTwentyThreads() {
  while (countThreads() < 20) {
    pthread_t idle;
    pthread_create(&idle, nullptr, [](void*) -> void* {
      for (;;) pause();
    }, nullptr);
  }
  waitForRecorderPreparation();
  // The time goes into a shared mapping of the file, so that no write call lies between the
  // time taken and the fault.
  constexpr std::size_t kDigits = 32;
  const int fd = open((g_folder + "/fault-time").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  (void)!ftruncate(fd, kDigits);
  auto* digits = static_cast<char*>(mmap(nullptr, kDigits, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  std::memset(digits, ' ', kDigits);
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::snprintf(digits, kDigits, "%lld", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
  crash_null_dereference();
  std::abort();
}

}  // namespace

extern "C" {

__attribute__((noinline)) void crash_null_dereference() {
  allocationtrap_arm();
  *g_nullPointer = 42;
}

__attribute__((noinline)) void crash_abort() {
  allocationtrap_arm();
  std::abort();
}

volatile int g_zero = 0;
volatile int g_dividend = 100;
volatile int g_quotient = 0;

__attribute__((noinline)) void crash_divide_by_zero() {
  allocationtrap_arm();
  g_quotient = g_dividend / g_zero;
}

__attribute__((noinline)) void crash_trap() {
  allocationtrap_arm();
  __builtin_trap();
}

__attribute__((noinline)) void crash_write_read_only(volatile char* page) {
  allocationtrap_arm();
  page[8] = 1;
}

__attribute__((noinline)) int crash_read_truncated_mapping(volatile const char* beyondEnd) {
  allocationtrap_arm();
  return beyondEnd[0];
}

__attribute__((noinline)) void crash_throw_runtime_error() { throw std::runtime_error("boom"); }

std::atomic<int> g_caughtThrows{0};

// Throws and catches without pause on its own thread.
__attribute__((noinline)) void* helper_throw_and_catch(void*) {
  for (;;) {
    try {
      throw std::logic_error("caught");
    } catch (const std::logic_error&) {
      g_caughtThrows.fetch_add(1);
    }
  }
  return nullptr;
}

__attribute__((noinline)) void crash_raise_object_exception() {
  runtime::NSException("ChildTestException", "raised on purpose", foundation::Dictionary{{"key", "value"}}).raise();
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int crash_recurse(int depth) {
  volatile char frame[256];
  frame[0] = static_cast<char>(depth);
  return crash_recurse(depth + 1) + frame[0];
}
#pragma GCC diagnostic pop

__attribute__((noinline)) void crash_stack_overflow() {
  allocationtrap_arm();
  crash_recurse(0);
}

__attribute__((noinline)) void* crash_stack_overflow_on_thread(void*) {
  crash_stack_overflow();
  return nullptr;
}

// Keeps the two object pointers in its own frame, inside the stack window of the report.
__attribute__((noinline)) void crash_with_objects_on_stack(runtime::id live, runtime::id freed) {
  volatile std::uintptr_t locals[2] = {reinterpret_cast<std::uintptr_t>(live), reinterpret_cast<std::uintptr_t>(freed)};
  allocationtrap_arm();
  *g_nullPointer = static_cast<int>(locals[0] & 1);
}

__attribute__((noinline)) void* crash_on_signal(void*) {
  g_crashersReady.fetch_add(1);
  while (g_crashersReady.load() < 2) {
  }
  allocationtrap_arm();
  *g_nullPointer = 7;
  return nullptr;
}

}  // extern "C"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <scenario> <install folder>\n", argv[0]);
    return 2;
  }
  const std::string scenario = argv[1];
  g_folder = argv[2];
  rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);

  runtime::NSSetUncaughtExceptionHandler(previousUncaughtExceptionHandler);
  dozidicrash_setUserInfoJSON("{\"child\":\"crash_child\"}");
  if (scenario == "threads-stopped") dozidicrash_setCrashNotifyCallback(writeCounterTwice);
  if (scenario == "callback-fault") dozidicrash_setCrashNotifyCallback(faultInCallback);
  if (scenario.starts_with("attachments")) {
    dozidicrash_setSaveScreenshots(saveScreenshots);
    dozidicrash_setSaveViewHierarchy(saveViewHierarchy);
  }
  if (scenario == "introspect") {
    dozidicrash_setIntrospectMemory(true);
    dozidicrash_setMonitoring(kDozidiCrashDefaultMonitors | 0x100);
  }
  const std::uint32_t active = dozidicrash_install("CrashChild", g_folder.c_str());
  // The reference is the same process, whose fault goes to the plain handler instead.
  if (scenario == "reference-twenty-threads") installReferenceHandler();
  // A normal end of an installed process: its status must stay as it is, with no report.
  if (scenario == "return-0") return 0;
  if (scenario == "exit-3") std::exit(3);

  pthread_t helpers[kHelperThreads];
  for (pthread_t& helper : helpers) pthread_create(&helper, nullptr, helperThread, nullptr);
  while (g_helpersRunning.load() < kHelperThreads) {
  }

  // Everything that allocates happens before the crash functions arm the allocation trap.
  volatile char* readOnlyPage = nullptr;
  volatile const char* beyondEnd = nullptr;
  if (scenario == "read-only") {
    void* page = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    readOnlyPage = static_cast<volatile char*>(page);
    writeFile("fault-address", std::to_string(reinterpret_cast<std::uintptr_t>(page) + 8));
  } else if (scenario == "truncated-file") {
    const std::string path = g_folder + "/truncated.bin";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    (void)!ftruncate(fd, 4096);
    void* mapping = mmap(nullptr, 8192, PROT_READ, MAP_SHARED, fd, 0);
    beyondEnd = static_cast<const char*>(mapping) + 4096;
    writeFile("fault-address", std::to_string(reinterpret_cast<std::uintptr_t>(beyondEnd)));
  }
  pthread_t crashers[2];
  if (scenario == "two-threads") {
    for (pthread_t& crasher : crashers) pthread_create(&crasher, nullptr, crash_on_signal, nullptr);
  }
  if (scenario == "lock-holders") {
    // Three more threads; after this nothing may allocate or print.
    writeFile("child-facts.json", "{\"threads\": " + std::to_string(countThreads() + 3) + "}");
    parkLockHolders();
    crash_null_dereference();
  }
  const int threads = countThreads();
  writeFile("child-facts.json", "{\"threads\": " + std::to_string(threads) + ", \"active_monitors\": " +
                                    std::to_string(active) + "}");

  if (scenario == "introspect") {
    runtime::id live = runtime::makeString("hello introspection");
    char reason[64];
    std::snprintf(reason, sizeof(reason), "the string at %p", static_cast<void*>(live));
    runtime::object_dispose(runtime::makeExceptionObject("FreedException", reason));
    // Freed last, so no later object takes its address or its slot in the zombie memory.
    runtime::id freed = runtime::makeNumber(7);
    runtime::object_dispose(freed);
    writeFile("objects.json", "{\"live\": " + std::to_string(reinterpret_cast<std::uintptr_t>(live)) +
                                  ", \"freed\": " + std::to_string(reinterpret_cast<std::uintptr_t>(freed)) + "}");
    crash_with_objects_on_stack(live, freed);
  }
  if (scenario == "twenty-threads" || scenario == "reference-twenty-threads") crashWithTwentyThreads();
  if (scenario == "null" || scenario == "attachments") crash_null_dereference();
  if (scenario == "threads-stopped") crash_null_dereference();
  if (scenario == "callback-fault") crash_null_dereference();
  if (scenario == "abort") crash_abort();
  if (scenario == "divide-by-zero") crash_divide_by_zero();
  if (scenario == "trap") crash_trap();
  if (scenario == "read-only") crash_write_read_only(readOnlyPage);
  if (scenario == "truncated-file") crash_read_truncated_mapping(beyondEnd);
  if (scenario == "runtime-error") crash_throw_runtime_error();
  if (scenario == "runtime-error-busy") {
    pthread_t thrower;
    pthread_create(&thrower, nullptr, helper_throw_and_catch, nullptr);
    while (g_caughtThrows.load() < 1000) {
    }
    crash_throw_runtime_error();
  }
  if (scenario == "object-exception" || scenario == "attachments-object-exception") crash_raise_object_exception();
  if (scenario == "attachments-runtime-error") crash_throw_runtime_error();
  if (scenario == "stack-overflow") crash_stack_overflow();
  if (scenario == "thread-stack-overflow") {
    pthread_t overflowing;
    pthread_create(&overflowing, nullptr, crash_stack_overflow_on_thread, nullptr);
    pthread_join(overflowing, nullptr);
  }
  if (scenario == "two-threads") {
    for (pthread_t& crasher : crashers) pthread_join(crasher, nullptr);
  }
  std::fprintf(stderr, "scenario %s did not crash\n", scenario.c_str());
  return 3;
}
