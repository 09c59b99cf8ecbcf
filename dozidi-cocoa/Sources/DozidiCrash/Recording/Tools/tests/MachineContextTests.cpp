#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashCPU.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMemory.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(MachineContextTests, RegisterNamesAndRanges) {
  EXPECT_EQ(dozidicrashcpu_numRegisters(), 21);
  EXPECT_STREQ(dozidicrashcpu_registerName(0), "rax");
  EXPECT_STREQ(dozidicrashcpu_registerName(16), "rip");
  EXPECT_STREQ(dozidicrashcpu_registerName(20), "gs");
  EXPECT_EQ(dozidicrashcpu_registerName(21), nullptr);
  EXPECT_EQ(dozidicrashcpu_registerName(-1), nullptr);
  EXPECT_EQ(dozidicrashcpu_numExceptionRegisters(), 3);
  EXPECT_STREQ(dozidicrashcpu_exceptionRegisterName(2), "cr2");
  EXPECT_EQ(dozidicrashcpu_exceptionRegisterName(3), nullptr);
  DozidiCrashMachineContext context{};
  EXPECT_EQ(dozidicrashcpu_registerValue(&context, 99), 0u);
  EXPECT_EQ(dozidicrashcpu_stackGrowDirection(), -1);
  // Library and stack addresses on x86_64 lie above 2^36: they must come back unchanged.
  for (std::uint64_t address : {0x7ffff7a12345ULL, 0x55555555a000ULL, 0x1000ULL}) {
    EXPECT_EQ(dozidicrashcpu_normaliseInstructionPointer(address), address);
  }
}

TEST(MachineContextTests, SignalContextCarriesItsRegistersAndTheThreadList) {
  ucontext_t user{};
  user.uc_mcontext.gregs[REG_RIP] = 0x1234;
  user.uc_mcontext.gregs[REG_RSP] = 0x5678;
  user.uc_mcontext.gregs[REG_CR2] = 0x10;
  user.uc_mcontext.gregs[REG_RBP] = 0;  // no frame chain: the walk ends at once
  DozidiCrashMachineContext context;
  ASSERT_TRUE(dozidicrashmc_getContextForSignal(&user, &context));
  EXPECT_TRUE(context.isSignalContext && context.isCrashedContext && context.isCurrentThread);
  EXPECT_FALSE(context.isStackOverflow);
  EXPECT_TRUE(dozidicrashmc_canHaveCPUState(&context));
  EXPECT_TRUE(dozidicrashmc_hasValidExceptionRegisters(&context));
  EXPECT_EQ(dozidicrashcpu_instructionAddress(&context), 0x1234u);
  EXPECT_EQ(dozidicrashcpu_stackPointer(&context), 0x5678u);
  EXPECT_EQ(dozidicrashcpu_faultAddress(&context), 0x10u);
  EXPECT_EQ(dozidicrashcpu_registerValue(&context, 16), 0x1234u);
  EXPECT_GE(dozidicrashmc_getThreadCount(&context), 1);
  EXPECT_GE(dozidicrashmc_indexOfThread(&context, dozidicrashthread_self()), 0);
  EXPECT_EQ(dozidicrashmc_indexOfThread(&context, 0x7ffffff0), -1);

  // The caller's own context without a signal has no registers.
  ASSERT_TRUE(dozidicrashmc_getContextForThread(dozidicrashthread_self(), &context, false));
  EXPECT_FALSE(dozidicrashmc_canHaveCPUState(&context));
  EXPECT_EQ(dozidicrashmc_getThreadCount(&context), 0);
  EXPECT_EQ(dozidicrashmc_indexOfThread(&context, dozidicrashthread_self()), -1);
}

TEST(MachineContextTests, ACrashedContextListsAtMostOneHundredThreads) {
  std::mutex mutex;
  std::condition_variable done;
  bool release = false;
  std::vector<std::thread> threads;
  for (int i = 0; i < 150; ++i) {
    threads.emplace_back([&] {
      std::unique_lock<std::mutex> lock(mutex);
      done.wait(lock, [&] { return release; });
    });
  }
  DozidiCrashMachineContext context;
  ASSERT_TRUE(dozidicrashmc_getContextForThread(dozidicrashthread_self(), &context, true));
  EXPECT_EQ(dozidicrashmc_getThreadCount(&context), 100);
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  done.notify_all();
  for (std::thread& thread : threads) thread.join();
}

// In one call, and begun by a crash handler that makes its context and writes while the threads
// stop: its context's thread list is filled when the suspension is finished.
TEST(MachineContextTests, SuspendedThreadsStayStillGiveTheirRegistersAndRunAfterResume) {
  for (bool begun : {false, true}) {
    SCOPED_TRACE(begun ? "begun, then finished" : "one call");
    struct Spinner {
      std::atomic<std::uint64_t> counter{0};
      std::atomic<DozidiCrashThread> id{0};
      std::thread thread;
    } spinners[3];
    std::atomic<bool> stop{false};
    for (Spinner& spinner : spinners) {
      spinner.thread = std::thread([&spinner, &stop] {
        spinner.id = dozidicrashthread_self();
        while (!stop.load(std::memory_order_relaxed)) spinner.counter.fetch_add(1, std::memory_order_relaxed);
      });
      while (spinner.id.load() == 0 || spinner.counter.load() == 0) std::this_thread::yield();
    }

    DozidiCrashThread* threads = nullptr;
    int count = 0;
    if (begun) {
      dozidicrashmc_beginSuspendEnvironment();
      ucontext_t user{};  // no frame chain: the walk ends at once
      DozidiCrashMachineContext crashed;
      ASSERT_TRUE(dozidicrashmc_getContextForSignal(&user, &crashed));
      EXPECT_EQ(dozidicrashmc_getThreadCount(&crashed), 0);
      dozidicrashmc_finishSuspendEnvironment();
      EXPECT_GE(dozidicrashmc_getThreadCount(&crashed), 4);
      EXPECT_GE(dozidicrashmc_indexOfThread(&crashed, dozidicrashthread_self()), 0);
      for (Spinner& spinner : spinners) EXPECT_GE(dozidicrashmc_indexOfThread(&crashed, spinner.id), 0);
    }
    dozidicrashmc_suspendEnvironment(&threads, &count);
    ASSERT_NE(threads, nullptr);
    EXPECT_GE(count, 4);
    std::uint64_t before[3];
    for (int i = 0; i < 3; ++i) before[i] = spinners[i].counter.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(spinners[i].counter.load(), before[i]) << "spinner " << i << " kept running";
      DozidiCrashMachineContext context;
      ASSERT_TRUE(dozidicrashmc_getContextForThread(spinners[i].id, &context, false));
      EXPECT_TRUE(dozidicrashmc_canHaveCPUState(&context));
      EXPECT_NE(dozidicrashcpu_instructionAddress(&context), 0u);
      EXPECT_NE(dozidicrashcpu_stackPointer(&context), 0u);
    }
    dozidicrashmc_resumeEnvironment(threads, count);
    for (int i = 0; i < 3; ++i) {
      while (spinners[i].counter.load() == before[i]) std::this_thread::yield();
    }

    // Resuming without a list does nothing.
    dozidicrashmc_resumeEnvironment(nullptr, 0);
    stop = true;
    for (Spinner& spinner : spinners) spinner.thread.join();
  }
}

// After the first listing the suspension counts the threads instead of listing them again: a
// thread started while the listed ones stop must still be found, stopped and listed.
TEST(MachineContextTests, AThreadStartedWhileTheOthersStopIsStoppedToo) {
  ASSERT_TRUE(dozidicrashmc_prepare());
  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> counter{0};
  std::atomic<DozidiCrashThread> lateId{0};
  std::thread early([&] {
    while (!stop.load(std::memory_order_relaxed)) std::this_thread::yield();
  });
  dozidicrashmc_beginSuspendEnvironment();
  std::thread late([&] {
    lateId = dozidicrashthread_self();
    while (!stop.load(std::memory_order_relaxed)) counter.fetch_add(1, std::memory_order_relaxed);
  });
  while (lateId.load() == 0 || counter.load() == 0) std::this_thread::yield();
  ucontext_t user{};  // no frame chain: the walk ends at once
  DozidiCrashMachineContext crashed;
  ASSERT_TRUE(dozidicrashmc_getContextForSignal(&user, &crashed));
  dozidicrashmc_finishSuspendEnvironment();
  DozidiCrashThread* threads = nullptr;
  int count = 0;
  dozidicrashmc_suspendEnvironment(&threads, &count);
  ASSERT_NE(threads, nullptr);
  EXPECT_GE(dozidicrashmc_indexOfThread(&crashed, lateId), 0);
  EXPECT_NE(std::find(threads, threads + count, lateId.load()), threads + count);
  const std::uint64_t before = counter.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(counter.load(), before) << "the late thread kept running";
  dozidicrashmc_resumeEnvironment(threads, count);
  stop = true;
  early.join();
  late.join();
}

// A program may close descriptors it did not open: when the number of the kept task folder
// names another folder, the suspension lists the threads by opening the folder anew.
TEST(MachineContextTests, AKeptTaskFolderTheProgramReplacedIsNotTrusted) {
  ASSERT_TRUE(dozidicrashmc_prepare());
  const std::string task = "/proc/" + std::to_string(::getpid()) + "/task";
  int kept = -1;
  for (int fd = 3; fd < 1024 && kept < 0; ++fd) {
    char target[256];
    const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
    if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == task) kept = fd;
  }
  ASSERT_GE(kept, 0) << "no descriptor of " << task;
  const int other = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::dup2(other, kept), kept);
  ::close(other);

  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> counter{0};
  std::atomic<DozidiCrashThread> id{0};
  std::thread spinner([&] {
    id = dozidicrashthread_self();
    while (!stop.load(std::memory_order_relaxed)) counter.fetch_add(1, std::memory_order_relaxed);
  });
  while (id.load() == 0 || counter.load() == 0) std::this_thread::yield();
  dozidicrashmc_beginSuspendEnvironment();
  dozidicrashmc_finishSuspendEnvironment();
  DozidiCrashThread* threads = nullptr;
  int count = 0;
  dozidicrashmc_suspendEnvironment(&threads, &count);
  ASSERT_NE(threads, nullptr);
  EXPECT_NE(std::find(threads, threads + count, id.load()), threads + count);
  const std::uint64_t before = counter.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(counter.load(), before) << "the spinner kept running";
  dozidicrashmc_resumeEnvironment(threads, count);
  stop = true;
  spinner.join();
}

class SafeReadTests : public ::testing::Test {
 protected:
  void SetUp() override {
    page_ = static_cast<int>(::sysconf(_SC_PAGESIZE));
    // 20000 readable bytes (rounded up to pages), then the same again unreadable.
    readablePages_ = (20000 + page_ - 1) / page_;
    area_ = static_cast<char*>(::mmap(nullptr, 2 * readablePages_ * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(area_, MAP_FAILED);
    std::memset(area_, 'r', readablePages_ * page_);
    ASSERT_EQ(::mprotect(area_ + readablePages_ * page_, readablePages_ * page_, PROT_NONE), 0);
  }
  void TearDown() override { ::munmap(area_, 2 * readablePages_ * page_); }
  char* readableEnd() const { return area_ + readablePages_ * page_; }

  int page_ = 0;
  int readablePages_ = 0;
  char* area_ = nullptr;
};

TEST_F(SafeReadTests, ReadabilityAndCopies) {
  char out[64];
  EXPECT_FALSE(dozidicrashmem_copySafely(nullptr, out, 8));
  EXPECT_FALSE(dozidicrashmem_copySafely(area_, out, 0));
  EXPECT_TRUE(dozidicrashmem_copySafely(area_, out, 8));
  EXPECT_TRUE(dozidicrashmem_isMemoryReadable(area_, 20000));
  EXPECT_FALSE(dozidicrashmem_isMemoryReadable(readableEnd() - 10000, 20000));
  EXPECT_TRUE(dozidicrashmem_isMemoryReadable(nullptr, 0));
  EXPECT_FALSE(dozidicrashmem_isMemoryReadable(area_, -1));

  std::vector<char> copy(100, 'x');
  EXPECT_EQ(dozidicrashmem_copyMaxPossible(readableEnd() - 37, copy.data(), 100), 37);
  EXPECT_EQ(copy[36], 'r');
  EXPECT_EQ(copy[37], 'x');
  EXPECT_EQ(dozidicrashmem_copyMaxPossible(readableEnd(), copy.data(), 100), 0);
  EXPECT_EQ(dozidicrashmem_copyMaxPossible(area_, copy.data(), 1), 1);

  // The readable length is a bound: at least what can be read, at most one chunk more.
  int bound = dozidicrashmem_maxReadableBytes(readableEnd() - 5000, 30000);
  EXPECT_EQ(bound, 5000);
  EXPECT_EQ(dozidicrashmem_maxReadableBytes(readableEnd(), 10), 0);
}

TEST(TextCheckTests, NullTerminatedUTF8) {
  struct Case {
    const char* name;
    const char* bytes;
    int minLength;
    int maxLength;
    bool expected;
  } cases[] = {
      {"five bytes, minimum five", "hello", 5, 100, true},
      {"five bytes, minimum six", "hello", 6, 100, false},
      {"tab, newline and return allowed", "a\tb\nc\r", 1, 100, true},
      {"other control byte", "a\x01", 1, 100, false},
      {"two-byte character", "caf\xC3\xA9", 1, 100, true},
      {"broken continuation", "caf\xC3(", 1, 100, false},
      {"lone continuation byte", "\x80", 0, 100, false},
      {"character cut by the limit", "ab\xE2\x82\xAC", 1, 4, false},
      {"no terminator within the limit", "hello", 1, 5, false},
      {"limit below one", "", 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(dozidicrashstring_isNullTerminatedUTF8String(c.bytes, c.minLength, c.maxLength), c.expected);
  }
}

TEST(TextCheckTests, HexValues) {
  struct Case {
    const char* name;
    const char* text;
    bool found;
    std::uint64_t value;
  } cases[] = {
      {"value followed by a blank", "at 0x1f now", true, 31},
      {"upper-case digits", "0xDEADbeef", true, 0xDEADBEEF},
      {"first 0x without a digit is skipped", "0xg 0x10", true, 16},
      {"no digit after the only 0x", "0xz", false, 0},
      {"no 0x at all", "1234", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::uint64_t value = 0;
    EXPECT_EQ(dozidicrashstring_extractHexValue(c.text, static_cast<int>(std::strlen(c.text)), &value), c.found);
    if (c.found) {
      EXPECT_EQ(value, c.value);
    }
  }
  std::uint64_t value = 0;
  EXPECT_FALSE(dozidicrashstring_extractHexValue("0x1", 0, &value));
}

}  // namespace
