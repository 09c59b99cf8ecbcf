#pragma once
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

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

/// Writes all of `bytes` to `fd`, retrying interrupted calls and short writes.
/// Returns 0, or the errno of the call that failed.
int writeAll(int fd, std::string_view bytes);
/// Reads `fd` to its end, retrying interrupted calls. Returns 0, or the errno of the failure.
int readAll(int fd, std::string& out);

}  // namespace foundation::detail
