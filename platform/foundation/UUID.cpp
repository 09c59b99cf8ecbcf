#include "platform/foundation/UUID.h"

#include <chrono>
#include <random>

#include "platform/foundation/SystemCalls.h"

namespace foundation {
namespace {

void fillRandom(std::array<std::uint8_t, 16>& bytes) {
  if (fillRandomBytes(bytes.data(), bytes.size())) return;
  // Kernels without getrandom: an identifier is still needed, so seed a generator from what the
  // library offers (random_device reads /dev/urandom) mixed with the time.
  std::random_device device;
  std::seed_seq seed{device(), device(), device(),
                     static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
  std::mt19937_64 generator(seed);
  for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(generator());
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isDashPosition(std::size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

}  // namespace

UUID::UUID() {
  fillRandom(bytes_);
  bytes_[6] = static_cast<std::uint8_t>((bytes_[6] & 0x0F) | 0x40);  // version 4
  bytes_[8] = static_cast<std::uint8_t>((bytes_[8] & 0x3F) | 0x80);  // RFC 4122 variant
}

std::optional<UUID> UUID::fromString(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  std::array<std::uint8_t, 16> bytes{};
  std::size_t nibble = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (isDashPosition(i)) {
      if (text[i] != '-') return std::nullopt;
      continue;
    }
    const int v = hexValue(text[i]);
    if (v < 0) return std::nullopt;
    bytes[nibble / 2] = static_cast<std::uint8_t>(bytes[nibble / 2] | (nibble % 2 == 0 ? v << 4 : v));
    ++nibble;
  }
  return UUID(bytes);
}

std::string UUID::uuidString() const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(36);
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += kHex[bytes_[i] >> 4];
    out += kHex[bytes_[i] & 0xF];
  }
  return out;
}

}  // namespace foundation
