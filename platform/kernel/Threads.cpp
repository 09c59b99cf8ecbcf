#include "platform/kernel/Threads.h"

#include "platform/kernel/detail/ProcText.h"
#include "platform/foundation/RetryOnInterrupt.h"

#include <dirent.h>
#include <pthread.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace kernel {

namespace {

// The record layout of getdents64, which glibc does not declare.
struct LinuxDirent64 {
  ino64_t d_ino;
  off64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

bool parseThreadId(const char* name, ThreadId* out) {
  if (*name < '1' || *name > '9') return false;
  long value = 0;
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9') return false;
    value = value * 10 + (*name - '0');
    if (value > 0x7fffffff) return false;
  }
  *out = static_cast<ThreadId>(value);
  return true;
}

// The ids, once asked for. Initial-exec TLS is a plain load from the thread pointer, which a
// signal handler may do. A forked child's ids are new: the handler below, run in the child's
// only thread, forgets them.
thread_local ThreadId tThreadId __attribute__((tls_model("initial-exec"))) = 0;
std::atomic<pid_t> gProcessId{0};
static_assert(std::atomic<pid_t>::is_always_lock_free);

void forgetIdsInChild() {
  tThreadId = 0;
  gProcessId.store(0, std::memory_order_relaxed);
}

[[maybe_unused]] const int gForkHandler = ::pthread_atfork(nullptr, nullptr, forgetIdsInChild);

}  // namespace

ThreadId currentThreadId() {
  ThreadId id = tThreadId;
  if (id == 0) tThreadId = id = static_cast<ThreadId>(::syscall(SYS_gettid));
  return id;
}

pid_t currentProcessId() {
  pid_t id = gProcessId.load(std::memory_order_relaxed);
  if (id == 0) {
    id = ::getpid();
    gProcessId.store(id, std::memory_order_relaxed);
  }
  return id;
}

int listThreads(ThreadId* out, int capacity) {
  const int fd = openThreadList();
  if (fd < 0) return -1;
  const int count = listThreadsIn(fd, out, capacity);
  ::close(fd);
  return count;
}

int openThreadList() {
  return foundation::retryOnInterrupt([] { return ::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
}

int listThreadsIn(int taskDirectory, ThreadId* out, int capacity) {
  if (::lseek(taskDirectory, 0, SEEK_SET) != 0) return -1;
  // opendir/readdir allocate; getdents64 into a stack buffer does not.
  alignas(8) char buffer[4096];
  // The longest record a thread id can give: the header, ten digits and the terminator, rounded
  // up to 8. The kernel fills a read as long as the next record fits, so a read that leaves room
  // for one more was the last one: the listing ends without the read that would return nothing.
  constexpr long kLongestRecord = 32;
  int count = 0;
  for (;;) {
    const long n =
        foundation::retryOnInterrupt([&] { return ::syscall(SYS_getdents64, taskDirectory, buffer, sizeof buffer); });
    if (n < 0) return -1;
    if (n == 0) break;
    for (long offset = 0; offset < n;) {
      auto* entry = reinterpret_cast<LinuxDirent64*>(buffer + offset);
      ThreadId thread;
      if (parseThreadId(entry->d_name, &thread)) {
        if (count < capacity) out[count] = thread;
        ++count;
      }
      offset += entry->d_reclen;
    }
    if (n + kLongestRecord <= static_cast<long>(sizeof buffer)) break;
  }
  return count;
}

bool identifyThreadList(int taskDirectory, FileIdentity* identity) {
  struct stat info;
  if (::fstat(taskDirectory, &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  *identity = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
  return true;
}

int countThreadsIn(int taskDirectory, const FileIdentity* expected) {
  struct stat info;
  if (::fstat(taskDirectory, &info) != 0 || !S_ISDIR(info.st_mode)) return -1;
  if (expected != nullptr &&
      *expected != FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)}) {
    return -1;
  }
  // The folder's own two links ("." and its entry in the parent) come before the threads'.
  return info.st_nlink >= 2 ? static_cast<int>(info.st_nlink - 2) : -1;
}

bool readThreadName(ThreadId thread, char* buffer, std::size_t length) {
  if (length == 0) return false;
  char path[64] = "/proc/self/task/";
  std::size_t used = std::strlen(path);
  used += static_cast<std::size_t>(detail::formatDecimal(static_cast<std::uint64_t>(thread), path + used));
  std::memcpy(path + used, "/comm", 6);
  char name[32];
  long n = detail::readSmallFile(path, name, sizeof name);
  if (n <= 0) return false;
  if (name[n - 1] == '\n') name[--n] = '\0';
  std::size_t copy = static_cast<std::size_t>(n) < length - 1 ? static_cast<std::size_t>(n) : length - 1;
  std::memcpy(buffer, name, copy);
  buffer[copy] = '\0';
  return true;
}

}  // namespace kernel
