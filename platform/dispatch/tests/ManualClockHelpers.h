#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/dispatch/Clock.h"

namespace dispatch::test_support {

/// Waits (in real time, bounded) until `count` timed waits are in progress on `clock`.
inline void waitForWaiters(const ManualClock& clock, std::size_t count) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (clock.waiterCount() < count) {
    ASSERT_LT(std::chrono::steady_clock::now(), limit) << "no thread started waiting";
    std::this_thread::yield();
  }
}

}  // namespace dispatch::test_support
