#include "platform/kernel/Threads.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

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


// The count must follow threads as they come and go: the crash path takes an unchanged count for
// "no thread started since the listing".
TEST(ThreadsTests, CountFromTheTaskFolderFollowsTheListing) {
  const int folder = kernel::openThreadList();
  ASSERT_GE(folder, 0);
  kernel::ThreadId listed[256];
  const int before = kernel::countThreadsIn(folder);
  EXPECT_EQ(before, kernel::listThreadsIn(folder, listed, 256));

  std::atomic<bool> stop{false};
  std::vector<std::thread> started;
  for (int i = 0; i < 3; ++i) started.emplace_back([&] {
    while (!stop.load()) std::this_thread::yield();
  });
  EXPECT_EQ(kernel::countThreadsIn(folder), before + 3);
  EXPECT_EQ(kernel::countThreadsIn(folder), kernel::listThreadsIn(folder, listed, 256));
  stop = true;
  for (std::thread& thread : started) thread.join();
  // A joined thread may still be on its way out of the kernel for a moment.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (kernel::countThreadsIn(folder) != before && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_EQ(kernel::countThreadsIn(folder), before);

  ::close(folder);
  EXPECT_EQ(kernel::countThreadsIn(folder), -1);
}

// A kept descriptor whose number the program closed and reused for another folder must not be
// read as the task folder.
TEST(ThreadsTests, CountRefusesADescriptorThatNamesAnotherFolderNow) {
  const int folder = kernel::openThreadList();
  ASSERT_GE(folder, 0);
  kernel::FileIdentity identity;
  ASSERT_TRUE(kernel::identifyThreadList(folder, &identity));
  EXPECT_GE(kernel::countThreadsIn(folder, &identity), 1);
  const int other = ::open("/proc/self", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::dup2(other, folder), folder);
  EXPECT_EQ(kernel::countThreadsIn(folder, &identity), -1);
  ::close(other);
  ::close(folder);
}

}  // namespace
