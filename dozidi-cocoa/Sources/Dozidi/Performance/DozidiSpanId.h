#pragma once
#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/UUID.h"

/// The identifier of one span: exactly 16 lower-case hexadecimal digits. An immutable value that
/// any thread may share; the empty id is "0000000000000000". The digits are held inline, so
/// making, copying and writing an id allocates nothing (a transaction makes one per span).
class DozidiSpanId {
 public:
  static constexpr std::size_t kLength = 16;

  /// A new random id.
  DozidiSpanId();
  /// The UUID's text, lower-cased, without dashes, cut to its first 16 characters.
  static DozidiSpanId initWithUUID(const foundation::UUID& uuid);
  /// A text of exactly 16 characters, lower-cased; any other length gives the empty id.
  static DozidiSpanId initWithValue(std::string_view value);
  /// The shared empty id.
  static const DozidiSpanId& empty();

  /// The 16 digits, valid as long as this id.
  std::string_view view() const { return std::string_view(digits_.data(), kLength); }
  std::string value() const { return std::string(view()); }
  std::string dozidiSpanIdString() const { return value(); }
  std::string description() const { return value(); }
  std::size_t hash() const { return std::hash<std::string_view>()(view()); }

  friend bool operator==(const DozidiSpanId&, const DozidiSpanId&) = default;

 private:
  struct Raw {};
  explicit DozidiSpanId(Raw) {}
  std::array<char, kLength> digits_;
};

template <>
struct std::hash<DozidiSpanId> {
  std::size_t operator()(const DozidiSpanId& id) const noexcept { return id.hash(); }
};
