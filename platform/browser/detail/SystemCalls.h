#pragma once
// Small wrappers around system calls the browser makes by hand. Header-only, so that the extension
// host and the plug-in side can use them without linking the browser.
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string_view>
#include <thread>
#include <utility>

namespace browser::detail {

/// Calls `call` until it does not fail with EINTR, and returns its last result. A signal handled
/// on the calling thread must not turn a wait, a read or a lock into a failure.
template <class Call>
auto retryOnInterrupt(Call call) {
  for (;;) {
    auto result = call();
    if (result != -1 || errno != EINTR) return result;
  }
}

/// Writes all of `bytes` to `fd`; false (errno set) when a write fails.
inline bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = retryOnInterrupt([&] { return ::write(fd, bytes.data(), bytes.size()); });
    if (n < 0) return false;
    if (n == 0) {  // no progress: report it rather than spin
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

/// Starts `body` on a new thread named `name` (at most 15 characters, the kernel's limit), so that
/// debuggers, crash reports and traces can tell the browser's threads apart.
template <class Body>
std::thread startThread(const char* name, Body body) {
  return std::thread([name, body = std::move(body)]() mutable {
    ::pthread_setname_np(::pthread_self(), name);
    body();
  });
}

}  // namespace browser::detail
