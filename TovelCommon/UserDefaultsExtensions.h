#pragma once
#include <optional>
#include <string_view>

#include "TovelCommon/JSONCoding.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"

namespace tovel {

/// Stores `value` as a binary property list scrambled with `scrambleKey` under `key`, written to
/// the store's file before it returns. Returns false, storing nothing, when `value` is not a property list
/// (a JSON null anywhere, for example) or cannot be written; the earlier entry then stays.
bool setScrambled(foundation::UserDefaults& defaults, const foundation::Value& value, std::string_view key,
                  std::string_view scrambleKey);
/// The value stored by setScrambled under `key`; none when the entry is missing, not data, or not
/// a scrambled property list.
std::optional<foundation::Value> scrambledObject(foundation::UserDefaults& defaults, std::string_view key,
                                                 std::string_view scrambleKey);

/// The JSON text stored under `key` read back as a value: none when the entry is missing or not
/// data; an error when the data is not JSON.
foundation::Result<std::optional<foundation::Value>> decodableValue(foundation::UserDefaults& defaults,
                                                                    std::string_view key);
/// Stores the JSON text of `value` under `key` as data; an error, storing nothing, when `value`
/// cannot be written as JSON or the store cannot write it.
foundation::Result<void> setEncodableValue(foundation::UserDefaults& defaults, const foundation::Value& value,
                                           std::string_view key);

/// The value of type T stored as JSON under `key`: none when missing or not data, an error when
/// the data does not decode as T.
template <JSONDecodable T>
foundation::Result<std::optional<T>> decodable(foundation::UserDefaults& defaults, std::string_view key) {
  auto value = decodableValue(defaults, key);
  if (!value) return value.error();
  if (!*value) return std::optional<T>();
  auto decoded = JSONCoding<T>::decode(**value);
  if (!decoded) return decoded.error();
  return std::optional<T>(std::move(*decoded));
}

/// Stores `value` as JSON under `key`.
template <JSONEncodable T>
foundation::Result<void> setEncodable(foundation::UserDefaults& defaults, const T& value, std::string_view key) {
  return setEncodableValue(defaults, JSONCoding<T>::encode(value), key);
}

}  // namespace tovel
