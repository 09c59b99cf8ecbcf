#pragma once
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace foundation {

/// HTTP header fields in the order they were first set. Names compare case-insensitively; each
/// name appears once, a repeated field being merged into one value joined by ", " (as HTTP allows
/// for repeated fields and as the platform reports them).
class HTTPHeaderFields {
 public:
  using Field = std::pair<std::string, std::string>;

  HTTPHeaderFields() = default;
  /// Fields with the same name are merged, as add() does.
  HTTPHeaderFields(std::initializer_list<Field> fields);

  /// The value of field `name`, whatever the case of its letters; none when absent.
  std::optional<std::string> value(std::string_view name) const;
  /// Replaces the value of `name` (keeping its position); none removes the field.
  void set(std::string_view name, std::optional<std::string> value);
  /// Appends `value` to the field `name`, joined by ", " when it already has one.
  void add(std::string_view name, std::string_view value);

  std::size_t size() const { return fields_.size(); }
  bool empty() const { return fields_.empty(); }
  const std::vector<Field>& fields() const { return fields_; }
  auto begin() const { return fields_.begin(); }
  auto end() const { return fields_.end(); }

  friend bool operator==(const HTTPHeaderFields&, const HTTPHeaderFields&) = default;

 private:
  std::vector<Field>::iterator find(std::string_view name);
  std::vector<Field> fields_;
};

}  // namespace foundation
