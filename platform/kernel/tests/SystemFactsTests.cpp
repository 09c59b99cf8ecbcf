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
