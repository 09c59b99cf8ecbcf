#include "platform/foundation/detail/FileSystemCalls.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace foundation::detail {

namespace {
FileSystemCalls realCalls() { return FileSystemCalls{::write, ::fsync, ::rename}; }
}  // namespace

FileSystemCalls& fileSystemCalls() {
  static FileSystemCalls calls = realCalls();
  return calls;
}

void resetFileSystemCalls() { fileSystemCalls() = realCalls(); }

int writeAll(int fd, std::string_view bytes) {
  const auto write = fileSystemCalls().write;
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    // A zero-byte write of a non-empty buffer would loop for ever; report it as no space,
    // which is what a full disk turns into on the next call anyway.
    if (n == 0) return ENOSPC;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

int readAll(int fd, std::string& out) {
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace foundation::detail
