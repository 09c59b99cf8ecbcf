#include "platform/foundation/ShutdownWork.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>

namespace foundation {
namespace {

struct Ending {
  int status = -1;
  std::string written;  ///< what the child wrote to its pipe
};

/// Runs `body` in a child process given the write end of a pipe; returns how the child ended.
Ending inChild(const std::function<void(int fd)>& body) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    body(fds[1]);
    ::_exit(99);  // exitProcess did not end the process
  }
  ::close(fds[1]);
  Ending ending;
  char buffer[256];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) ending.written.append(buffer, n);
  ::close(fds[0]);
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
  ending.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return ending;
}

TEST(ShutdownWorkTest, RegisteredWorkRunsNewestFirstAndEndedRegistrationsDoNot) {
  Ending ending = inChild([](int fd) {
    auto say = [fd](const char* text) { return [fd, text] { (void)::write(fd, text, 1); }; };
    auto a = ShutdownWork::add("a", say("a"));
    auto b = ShutdownWork::add("b", say("b"));
    { auto gone = ShutdownWork::add("gone", say("x")); }
    auto c = ShutdownWork::add("c", say("c"));
    ShutdownWork::Registration moved = std::move(b);
    ShutdownWork::exitProcess(7);
  });
  EXPECT_EQ(ending.status, 7);
  EXPECT_EQ(ending.written, "cba");
}

TEST(ShutdownWorkTest, WorkThatHangsDoesNotHoldTheExitPastTheBound) {
  Ending ending = inChild([](int fd) {
    auto first = ShutdownWork::add("first", [fd] { (void)::write(fd, "1", 1); });
    auto stuck = ShutdownWork::add("stuck", [] {
      for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    });
    ShutdownWork::exitProcess(3, 0.2);
  });
  EXPECT_EQ(ending.status, 3);
  // The work behind the stuck one never got its turn; the exit came anyway.
  EXPECT_EQ(ending.written, "");
}

}  // namespace
}  // namespace foundation
