#pragma once
// System calls that a signal can interrupt, retried in one place: callers never loop on EINTR or
// on short reads and writes themselves.
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/foundation/RetryOnInterrupt.h"

namespace foundation {

/// Closes a descriptor when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  /// Closes now and reports the close's errno (0 when it succeeded).
  int close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

using WriteCall = ssize_t (*)(int fd, const void* buffer, std::size_t size);
using ReadCall = ssize_t (*)(int fd, void* buffer, std::size_t size);

/// Writes all of `bytes` to `fd` through `write`, retrying interrupted calls and short writes.
/// Returns 0, or the errno of the call that failed (ENOSPC for a write that makes no progress).
/// Tests pass their own `write` to inject faults.
int writeFully(int fd, std::string_view bytes, WriteCall write = nullptr);

/// Reads `fd` to its end through `read` and appends what it read to `out`, retrying interrupted
/// calls. Returns 0, or the errno of the call that failed (what was read before stays in `out`).
int readFully(int fd, std::string& out, ReadCall read = nullptr);

/// Fills `size` bytes at `buffer` from the kernel's secure random source, retrying interrupted and
/// short reads. Returns false when the source cannot be read; the buffer may then be partly filled.
bool fillRandomBytes(void* buffer, std::size_t size);

/// Asks the kernel to back every page that [address, address + size) touches with memory now, in
/// one call, instead of one page fault at a time as the pages are first written: on a virtual
/// machine a fault costs several times the page's share of the call. For memory about to be
/// written in full. Only a hint: where the kernel cannot, the pages come as they are first
/// written, as before; their contents never change.
void prefaultForWriting(void* address, std::size_t size);

}  // namespace foundation
