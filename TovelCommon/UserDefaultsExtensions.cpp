#include "TovelCommon/UserDefaultsExtensions.h"

#include "TovelCommon/DataExtensions.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/PropertyListSerialization.h"

namespace tovel {

using foundation::Value;

bool setScrambled(foundation::UserDefaults& defaults, const Value& value, std::string_view key,
                  std::string_view scrambleKey) {
  auto plist = foundation::PropertyListSerialization::dataFromPropertyList(value);
  if (!plist) return false;
  auto scrambled = xored(*plist, scrambleKey);
  // No scrambling result stores nothing under the key, which removes the entry.
  // The store writes the change before it returns, or refuses it and keeps the earlier entry.
  return defaults.set(key, scrambled ? Value(std::move(*scrambled)) : Value()).ok();
}

std::optional<Value> scrambledObject(foundation::UserDefaults& defaults, std::string_view key,
                                     std::string_view scrambleKey) {
  auto data = defaults.data(key);
  if (!data) return std::nullopt;
  auto plain = xored(*data, scrambleKey);
  if (!plain) return std::nullopt;
  auto value = foundation::PropertyListSerialization::propertyListWithData(*plain);
  if (!value) return std::nullopt;
  return std::move(*value);
}

foundation::Result<std::optional<Value>> decodableValue(foundation::UserDefaults& defaults, std::string_view key) {
  auto data = defaults.data(key);
  if (!data) return std::optional<Value>();
  auto value = foundation::JSONSerialization::JSONObjectWithData(data->view(),
                                                                 foundation::JSONReadingOptions::FragmentsAllowed);
  if (!value) return value.error();
  return std::optional<Value>(std::move(*value));
}

foundation::Result<void> setEncodableValue(foundation::UserDefaults& defaults, const Value& value,
                                           std::string_view key) {
  auto text =
      foundation::JSONSerialization::dataWithJSONObject(value, foundation::JSONWritingOptions::FragmentsAllowed);
  if (!text) return text.error();
  return defaults.set(key, Value(foundation::Data(std::move(*text))));
}

}  // namespace tovel
