#pragma once
// The one retry of system calls a signal interrupted. Header-only and free of allocation, locks
// and library state, so that the layers below the foundation (kernel, dispatch) and the crash
// path use it too; SystemCalls.h builds the foundation's file helpers on it.
#include <cerrno>

namespace foundation {

/// Calls `call` again for as long as it fails with EINTR, and returns its first other result. For
/// calls that return -1 (or any negative value) and set errno on failure (waitpid, flock, open,
/// read, syscall, ...). Async-signal-safe when `call` is: it adds no allocation and no lock.
template <typename Call>
auto retryOnInterrupt(Call&& call) {
  for (;;) {
    auto result = call();
    if (!(result < 0 && errno == EINTR)) return result;
  }
}

}  // namespace foundation
