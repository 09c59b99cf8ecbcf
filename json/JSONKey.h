#pragma once
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace json {

/// One step of a path into a JSON value: a position in an array or a key of a dictionary.
/// Integers and strings convert implicitly, so a path reads `{"trigger", "if-domain"}` or
/// `{"rules", 0, "action"}`.
class JSONKey {
 public:
  template <class I>
    requires(std::integral<I> && !std::same_as<I, bool>)
  JSONKey(I index) : step_(static_cast<std::int64_t>(index)) {}
  JSONKey(std::string key) : step_(std::move(key)) {}
  JSONKey(std::string_view key) : step_(std::string(key)) {}
  JSONKey(const char* key) : step_(std::string(key)) {}

  bool isIndex() const { return step_.index() == 0; }
  /// The position; meaningful only when isIndex().
  std::int64_t index() const { return isIndex() ? std::get<0>(step_) : 0; }
  /// The key; nullptr for a position.
  const std::string* key() const { return std::get_if<1>(&step_); }

  friend bool operator==(const JSONKey&, const JSONKey&) = default;

 private:
  std::variant<std::int64_t, std::string> step_;
};

/// Whatever may stand as a step of a path: signed or unsigned integers and strings.
template <class T>
concept JSONSubscriptType = std::constructible_from<JSONKey, const T&>;

/// The step a subscript value stands for.
template <JSONSubscriptType T>
JSONKey jsonKey(const T& step) {
  return JSONKey(step);
}

}  // namespace json
