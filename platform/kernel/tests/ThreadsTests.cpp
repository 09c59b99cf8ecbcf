#include "platform/kernel/Threads.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace {

bool idsAreTheKernels() {
  return kernel::currentThreadId() == static_cast<kernel::ThreadId>(::syscall(SYS_gettid)) &&
         kernel::currentProcessId() == ::getpid();
}

// The ids are kept after the first call: each thread must still get its own, and a forked child
// (whose only thread has new ids) must not get its parent's.
TEST(ThreadsTests, IdsAreTheCallersAlsoInOtherThreadsAndForkedChildren) {
  ASSERT_TRUE(idsAreTheKernels());
  ASSERT_EQ(kernel::currentThreadId(), ::getpid());

  kernel::ThreadId other = 0;
  bool otherMatches = false;
  std::thread([&] {
    other = kernel::currentThreadId();
    otherMatches = idsAreTheKernels();
  }).join();
  EXPECT_TRUE(otherMatches);
  EXPECT_NE(other, kernel::currentThreadId());

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(idsAreTheKernels() && kernel::currentThreadId() == ::getpid() ? 0 : 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(idsAreTheKernels());
}

}  // namespace
