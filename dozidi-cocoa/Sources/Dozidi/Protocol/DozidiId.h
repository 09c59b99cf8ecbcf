#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "platform/foundation/UUID.h"

/// A 128-bit identifier of events, traces and profiles. Its text is 32 lower-case hexadecimal
/// digits without dashes. An immutable value; any thread may share it.
class DozidiId {
 public:
  /// A new random identifier.
  DozidiId() = default;
  explicit DozidiId(const foundation::UUID& uuid) : uuid_(uuid) {}
  /// Reads the dashed 36-character form or the 32-digit form, hexadecimal digits in either case;
  /// any other text gives the empty id.
  static DozidiId initWithUUIDString(std::string_view text);
  /// The all-zero identifier.
  static const DozidiId& empty();

  const foundation::UUID& uuid() const { return uuid_; }
  std::string dozidiIdString() const;
  /// Appends the same 32 digits to `out`, without a string of their own.
  void appendIdString(std::string& out) const;
  std::string description() const { return dozidiIdString(); }
  std::size_t hash() const;

  friend bool operator==(const DozidiId&, const DozidiId&) = default;

 private:
  foundation::UUID uuid_;
};

template <>
struct std::hash<DozidiId> {
  std::size_t operator()(const DozidiId& id) const { return id.hash(); }
};
