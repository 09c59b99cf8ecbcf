#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace foundation {

/// A universally unique identifier (the platform's UUID). Its text is upper-case hexadecimal in
/// the 8-4-4-4-12 layout, e.g. "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
class UUID {
 public:
  /// A new random (version 4) identifier from the kernel's random source.
  UUID();
  /// The identifier in `text` (8-4-4-4-12 hexadecimal, either case), or none.
  static std::optional<UUID> fromString(std::string_view text);
  static UUID fromBytes(const std::array<std::uint8_t, 16>& bytes) { return UUID(bytes); }

  std::string uuidString() const;
  const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

  friend bool operator==(const UUID&, const UUID&) = default;

 private:
  explicit UUID(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}
  std::array<std::uint8_t, 16> bytes_;
};

}  // namespace foundation
