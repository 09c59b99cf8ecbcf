#pragma once
// The futex call on an atomic word and the monotonic clock in nanoseconds, for the waits of
// thread suspension and thread sampling. Both run inside signal handlers: no allocation, no locks.

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace kernel::detail {

inline long futex(std::atomic<int>* word, int op, int value, const timespec* timeout) {
  return ::syscall(SYS_futex, reinterpret_cast<int*>(word), op, value, timeout, nullptr, 0);
}

inline std::int64_t nowNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace kernel::detail
