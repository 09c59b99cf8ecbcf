#include "TovelCommon/CloudConfigValue.h"

#include "platform/foundation/JSONSerialization.h"

namespace tovel {

using foundation::URL;
using foundation::Value;

std::optional<URL> resolveConfigURL(std::string_view text, const std::optional<URL>& baseUrl) {
  auto parsed = URL::parse(text);
  if (!parsed) return std::nullopt;
  if (parsed->hasScheme() || !baseUrl) return parsed;
  if (auto resolved = URL::parse(parsed->absoluteString(), *baseUrl)) return resolved;
  return parsed;
}

std::optional<std::string> CloudConfigValue::string() const { return raw.asString(); }

std::optional<std::int64_t> CloudConfigValue::integer() const {
  const foundation::Number* number = raw.number();
  if (!number || number->isBool()) return std::nullopt;
  return number->exactInt64();
}

std::optional<bool> CloudConfigValue::boolean() const {
  const foundation::Number* number = raw.number();
  if (!number) return std::nullopt;
  if (number->isBool()) return number->rawInt64() != 0;
  if (*number == foundation::Number::fromInt64(1)) return true;
  if (*number == foundation::Number::fromInt64(0)) return false;
  return std::nullopt;
}

std::optional<std::vector<std::string>> CloudConfigValue::stringArray() const {
  const foundation::Array* array = raw.array();
  if (!array) return std::nullopt;
  std::vector<std::string> texts;
  texts.reserve(array->size());
  for (const Value& element : *array) {
    const std::string* text = element.string();
    if (!text) return std::nullopt;
    texts.push_back(*text);
  }
  return texts;
}

std::optional<URL> CloudConfigValue::url() const {
  const std::string* text = raw.string();
  if (!text) return std::nullopt;
  return resolveConfigURL(*text, baseUrl);
}

std::optional<Value> CloudConfigValue::jsonRoundTrip(const Value& raw) {
  if (!raw.array() && !raw.dictionary()) return std::nullopt;
  auto text = foundation::JSONSerialization::dataWithJSONObject(raw);
  if (!text) return std::nullopt;
  auto value = foundation::JSONSerialization::JSONObjectWithData(*text);
  if (!value) return std::nullopt;
  return std::move(*value);
}

}  // namespace tovel
