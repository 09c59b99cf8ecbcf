#pragma once
#include <cstddef>
#include <iterator>
#include <optional>
#include <set>
#include <type_traits>
#include <vector>

#include "platform/foundation/Result.h"

namespace tovel {

/// The element at `index` when the container has one there, otherwise none; never out of range.
/// Negative indices and indices at or past the end give none.
template <class Container, class Index>
  requires std::is_integral_v<Index>
std::optional<typename Container::value_type> safeAt(const Container& container, Index index) {
  if constexpr (std::is_signed_v<Index>) {
    if (index < 0) return std::nullopt;
  }
  const auto position = static_cast<std::make_unsigned_t<Index>>(index);
  if (position >= std::size(container)) return std::nullopt;
  return *std::next(std::begin(container), static_cast<std::ptrdiff_t>(position));
}

/// None for an empty container, otherwise the container itself.
template <class Container>
std::optional<Container> nilIfEmpty(const Container& container) {
  if (std::empty(container)) return std::nullopt;
  return container;
}

/// The same elements as a set; duplicates collapse.
template <class T>
std::set<T> asSet(const std::vector<T>& elements) {
  return std::set<T>(elements.begin(), elements.end());
}

/// The same elements as a list, in the set's order.
template <class T>
std::vector<T> asArray(const std::set<T>& elements) {
  return std::vector<T>(elements.begin(), elements.end());
}

/// The success value of a result, or none for a failure.
template <class T>
std::optional<T> resultValue(const foundation::Result<T>& result) {
  if (!result) return std::nullopt;
  return result.value();
}

/// The failure of a result, or none for a success.
template <class T>
std::optional<foundation::Error> resultError(const foundation::Result<T>& result) {
  if (result) return std::nullopt;
  return result.error();
}

}  // namespace tovel
