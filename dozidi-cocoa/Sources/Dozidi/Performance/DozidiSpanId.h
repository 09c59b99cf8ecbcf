#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/UUID.h"

/// The identifier of one span: exactly 16 lower-case hexadecimal digits. An immutable value that
/// any thread may share; the empty id is "0000000000000000".
class DozidiSpanId {
 public:
  /// A new random id.
  DozidiSpanId();
  /// The UUID's text, lower-cased, without dashes, cut to its first 16 characters.
  static DozidiSpanId initWithUUID(const foundation::UUID& uuid);
  /// A text of exactly 16 characters, lower-cased; any other length gives the empty id.
  static DozidiSpanId initWithValue(std::string_view value);
  /// The shared empty id.
  static const DozidiSpanId& empty();

  const std::string& value() const { return value_; }
  std::string dozidiSpanIdString() const { return value_; }
  std::string description() const { return value_; }
  std::size_t hash() const { return std::hash<std::string>()(value_); }

  friend bool operator==(const DozidiSpanId&, const DozidiSpanId&) = default;

 private:
  struct Raw {};
  DozidiSpanId(Raw, std::string value) : value_(std::move(value)) {}
  std::string value_;
};

template <>
struct std::hash<DozidiSpanId> {
  std::size_t operator()(const DozidiSpanId& id) const noexcept { return id.hash(); }
};
