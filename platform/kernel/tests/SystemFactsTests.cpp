#include "platform/kernel/SystemFacts.h"

#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

TEST(SystemFactsTests, ReportsTheRunningLinux) {
  kernel::KernelName name;
  ASSERT_TRUE(kernel::readKernelName(&name));
  utsname expected{};
  ASSERT_EQ(uname(&expected), 0);
  EXPECT_STREQ(name.machine, expected.machine);
  EXPECT_STREQ(name.systemName, "Linux");
  EXPECT_STREQ(name.release, expected.release);

  EXPECT_GT(kernel::totalMemory(), 0u);
  std::uint64_t freeBytes = 0, usableBytes = 0;
  ASSERT_TRUE(kernel::readMemoryFigures(&freeBytes, &usableBytes));
  EXPECT_GT(freeBytes, 0u);
  EXPECT_LE(usableBytes, kernel::totalMemory());

  std::int64_t boot = kernel::bootTimeSeconds();
  EXPECT_GT(boot, 0);
  EXPECT_LE(boot, std::time(nullptr));
  timeval start{};
  ASSERT_TRUE(kernel::readProcessStartTime(&start));
  EXPECT_GE(start.tv_sec, boot);
  EXPECT_LE(start.tv_sec, std::time(nullptr) + 1);
}

TEST(SystemFactsTests, ProcessStartTimeIsTheMomentTheProcessWasMade) {
  // A forked child starts between the two readings of the wall clock; its start time must fall
  // between them up to one clock tick, much finer than the whole seconds of the boot time.
  auto wallSeconds = [] {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
  };
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const double before = wallSeconds();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    timeval start{};
    if (!kernel::readProcessStartTime(&start)) _exit(1);
    _exit(write(pipeEnds[1], &start, sizeof start) == sizeof start ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  const double after = wallSeconds();
  timeval start{};
  ASSERT_EQ(read(pipeEnds[0], &start, sizeof start), static_cast<ssize_t>(sizeof start));
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  const double tick = 1.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
  const double started = static_cast<double>(start.tv_sec) + start.tv_usec / 1e6;
  EXPECT_GE(started, before - 2 * tick);
  EXPECT_LE(started, after + 2 * tick);
  // The boot time is the kernel's own figure: the same at every reading.
  EXPECT_EQ(kernel::bootTimeSeconds(), kernel::bootTimeSeconds());
}

TEST(SystemFactsTests, MacAddressOfLoopbackAndOfAMissingInterface) {
  std::uint8_t address[6] = {1, 1, 1, 1, 1, 1};
  ASSERT_TRUE(kernel::readMacAddress("lo", address));
  for (std::uint8_t byte : address) EXPECT_EQ(byte, 0);
  errno = 0;
  EXPECT_FALSE(kernel::readMacAddress("no-such-if0", address));
  EXPECT_NE(errno, 0);
}

TEST(SystemFactsTests, TracedOnlyWhileADebuggerIsAttached) {
  EXPECT_FALSE(kernel::isBeingTraced());
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char go;
    close(ready[1]);
    if (read(ready[0], &go, 1) != 1) _exit(3);
    _exit(kernel::isBeingTraced() ? 0 : 1);
  }
  close(ready[0]);
  if (ptrace(PTRACE_SEIZE, child, nullptr, nullptr) != 0) {
    int reason = errno;
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[1]);
    GTEST_SKIP() << "ptrace is not allowed here: " << std::strerror(reason);
  }
  ASSERT_EQ(write(ready[1], "g", 1), 1);
  close(ready[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the traced child did not see its tracer";
}

}  // namespace
