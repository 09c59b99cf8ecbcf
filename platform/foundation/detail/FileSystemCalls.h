#pragma once
#include <sys/types.h>

#include <cstddef>

namespace foundation::detail {

/// The system calls of the atomic write, routed through one table so that a test can inject
/// faults a real disk will not produce on demand (interrupted calls, short writes, no space).
/// Production code never changes it; a test swaps entries and restores them before it ends.
struct FileSystemCalls {
  ssize_t (*write)(int fd, const void* buffer, std::size_t size);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
};

FileSystemCalls& fileSystemCalls();
/// Restores the real system calls.
void resetFileSystemCalls();

}  // namespace foundation::detail
