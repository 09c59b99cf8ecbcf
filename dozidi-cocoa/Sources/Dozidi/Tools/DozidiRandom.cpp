#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiRandom.h"

#include <atomic>
#include <chrono>

namespace {

std::mt19937_64::result_type systemSeed() {
  try {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
  } catch (...) {
    // Without an entropy source the clock and a per-process counter still keep two generators
    // of one process apart.
    static std::atomic<std::uint64_t> counter{0};
    const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    return static_cast<std::uint64_t>(now) ^ (++counter * 0x9E3779B97F4A7C15ull);
  }
}

}  // namespace

DozidiRandom::DozidiRandom() : generator_(systemSeed()) {}

std::shared_ptr<DozidiRandom> DozidiRandom::create() { return std::shared_ptr<DozidiRandom>(new DozidiRandom()); }

double DozidiRandom::nextNumber() {
  std::lock_guard lock(lock_);
  // The top 53 bits make a double in [0, 1) with every value equally likely.
  return static_cast<double>(generator_() >> 11) * 0x1.0p-53;
}
