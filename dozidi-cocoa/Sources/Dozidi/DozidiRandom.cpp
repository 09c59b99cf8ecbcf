#include "dozidi-cocoa/Sources/Dozidi/DozidiRandom.h"

namespace {

std::mt19937_64::result_type systemSeed() {
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

}  // namespace

DozidiRandom::DozidiRandom() : generator_(systemSeed()) {}

std::shared_ptr<DozidiRandom> DozidiRandom::create() { return std::shared_ptr<DozidiRandom>(new DozidiRandom()); }

double DozidiRandom::nextNumber() {
  std::lock_guard lock(lock_);
  // The top 53 bits make a double in [0, 1) with every value equally likely.
  return static_cast<double>(generator_() >> 11) * 0x1.0p-53;
}
