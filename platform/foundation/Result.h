#pragma once
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include "platform/foundation/Error.h"

namespace foundation {

/// The outcome of an operation that can fail: a value of T, or an Error.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(const T& value) : v_(std::in_place_index<0>, value) {}
  Result(T&& value) : v_(std::in_place_index<0>, std::move(value)) {}
  template <class U>
    requires(std::is_constructible_v<T, U&&> && !std::is_same_v<std::remove_cvref_t<U>, T> &&
             !std::is_same_v<std::remove_cvref_t<U>, Error> &&
             !std::is_same_v<std::remove_cvref_t<U>, Result>)
  Result(U&& value) : v_(std::in_place_index<0>, T(std::forward<U>(value))) {}
  Result(const Error& error) : v_(std::in_place_index<1>, error) {}
  Result(Error&& error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::get<0>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T valueOr(T fallback) const& { return ok() ? value() : std::move(fallback); }

  const Error& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, Error> v_;
};

/// The outcome of an operation that can fail and has no value.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(const Error& error) : error_(error) {}
  Result(Error&& error) : error_(std::move(error)) {}
  static Result success() { return Result(); }

  bool ok() const { return !error_.has_value(); }
  explicit operator bool() const { return ok(); }
  const Error& error() const { return *error_; }

 private:
  std::optional<Error> error_;
};

}  // namespace foundation
