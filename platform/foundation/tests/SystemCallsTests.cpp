#include "platform/foundation/SystemCalls.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>

namespace foundation {
namespace {

// The fakes are plain functions (the helpers take function pointers), so they count in a global.
int gCalls = 0;

// Every other call is interrupted; the others move at most 3 bytes.
ssize_t interruptedShortRead(int fd, void* buffer, std::size_t size) {
  if (gCalls++ % 2 == 0) {
    errno = EINTR;
    return -1;
  }
  return ::read(fd, buffer, std::min<std::size_t>(size, 3));
}

ssize_t interruptedShortWrite(int fd, const void* buffer, std::size_t size) {
  if (gCalls++ % 2 == 0) {
    errno = EINTR;
    return -1;
  }
  return ::write(fd, buffer, std::min<std::size_t>(size, 3));
}

// Reads once, then the device fails.
ssize_t readThenFail(int fd, void* buffer, std::size_t size) {
  if (gCalls++ == 0) return ::read(fd, buffer, std::min<std::size_t>(size, 4));
  errno = EIO;
  return -1;
}

ssize_t writeNothing(int, const void*, std::size_t) { return 0; }

/// A pipe holding `text`, its write end closed so that reading ends after it.
int pipeHolding(const std::string& text) {
  int ends[2];
  if (::pipe(ends) != 0) return -1;
  (void)writeFully(ends[1], text);
  ::close(ends[1]);
  return ends[0];
}

TEST(SystemCallsTests, ReadsAndWritesSurviveInterruptedAndShortCalls) {
  gCalls = 0;
  int fd = pipeHolding("hello, world");
  std::string read;
  EXPECT_EQ(readFully(fd, read, interruptedShortRead), 0);
  ::close(fd);
  EXPECT_EQ(read, "hello, world");

  gCalls = 0;
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  EXPECT_EQ(writeFully(ends[1], "hello, world", interruptedShortWrite), 0);
  ::close(ends[1]);
  std::string written;
  EXPECT_EQ(readFully(ends[0], written), 0);
  ::close(ends[0]);
  EXPECT_EQ(written, "hello, world");
}

TEST(SystemCallsTests, FailuresComeBackAsTheirErrno) {
  gCalls = 0;
  int fd = pipeHolding("hello, world");
  std::string read;
  EXPECT_EQ(readFully(fd, read, readThenFail), EIO);
  EXPECT_EQ(read, "hell");  // what was read before the failure is kept
  ::close(fd);

  // A write that makes no progress would loop for ever.
  EXPECT_EQ(writeFully(1, "x", writeNothing), ENOSPC);
  EXPECT_EQ(writeFully(-1, "x"), EBADF);
}

TEST(SystemCallsTests, PrefaultingLeavesEveryByteAsItWas) {
  // Pages are rounded out to whole pages on both sides of the range, which covers bytes of the
  // neighbours too: none of them may change.
  std::string memory(5 * 4096 + 123, '\0');
  for (std::size_t i = 0; i < memory.size(); ++i) memory[i] = static_cast<char>(i * 7 + 1);
  const std::string before = memory;
  prefaultForWriting(memory.data() + 100, 3 * 4096);
  prefaultForWriting(memory.data() + 5, 0);
  EXPECT_EQ(memory, before);
  // The range stays writable.
  std::fill(memory.begin() + 100, memory.begin() + 100 + 3 * 4096, 'x');
  EXPECT_EQ(memory.substr(0, 100), before.substr(0, 100));
}

}  // namespace
}  // namespace foundation
