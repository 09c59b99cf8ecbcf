#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanId.h"

#include <algorithm>
#include <random>

#include "platform/foundation/TextCase.h"

namespace {

/// 64 random bits from a generator of the calling thread, seeded once from the system's entropy.
/// A span id needs uniqueness, not secrecy, and a transaction makes hundreds of them: one system
/// call per id (as a fresh UUID costs) would dominate the tracer's time.
std::uint64_t randomBits() {
  thread_local std::mt19937_64 generator([] {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
  }());
  std::uint64_t bits = 0;
  while (bits == 0) bits = generator();  // never the empty id
  return bits;
}

}  // namespace

DozidiSpanId::DozidiSpanId() {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::uint64_t bits = randomBits();
  for (int i = static_cast<int>(kLength) - 1; i >= 0; --i, bits >>= 4) {
    digits_[static_cast<std::size_t>(i)] = kDigits[bits & 0xF];
  }
}

DozidiSpanId DozidiSpanId::initWithUUID(const foundation::UUID& uuid) {
  DozidiSpanId id{Raw{}};
  std::size_t at = 0;
  for (char c : uuid.uuidString()) {
    if (c == '-') continue;
    id.digits_[at++] = foundation::lowercasedCharacter(c);
    if (at == kLength) break;
  }
  return id;
}

DozidiSpanId DozidiSpanId::initWithValue(std::string_view value) {
  if (value.size() != kLength) return empty();
  DozidiSpanId id{Raw{}};
  std::transform(value.begin(), value.end(), id.digits_.begin(), foundation::lowercasedCharacter);
  return id;
}

const DozidiSpanId& DozidiSpanId::empty() {
  static const DozidiSpanId id = [] {
    DozidiSpanId zero{Raw{}};
    zero.digits_.fill('0');
    return zero;
  }();
  return id;
}
