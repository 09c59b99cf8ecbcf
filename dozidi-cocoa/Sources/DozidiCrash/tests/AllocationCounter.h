#pragma once
#include <cstddef>

// Test support: counts heap allocations made by any code between start and stop, on any thread.
namespace allocation_counter {

void start();
/// Stops counting; returns the number of allocations since start().
std::size_t stop();

}  // namespace allocation_counter
