#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanId.h"

#include <algorithm>
#include <cctype>
#include <random>

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
  value_.assign(16, '0');
  for (int i = 15; i >= 0; --i, bits >>= 4) value_[static_cast<std::size_t>(i)] = kDigits[bits & 0xF];
}

DozidiSpanId DozidiSpanId::initWithUUID(const foundation::UUID& uuid) {
  std::string text;
  for (char c : uuid.uuidString()) {
    if (c == '-') continue;
    text.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    if (text.size() == 16) break;
  }
  return DozidiSpanId(Raw{}, std::move(text));
}

DozidiSpanId DozidiSpanId::initWithValue(std::string_view value) {
  if (value.size() != 16) return empty();
  std::string text(value);
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return DozidiSpanId(Raw{}, std::move(text));
}

const DozidiSpanId& DozidiSpanId::empty() {
  static const DozidiSpanId id(Raw{}, std::string(16, '0'));
  return id;
}
