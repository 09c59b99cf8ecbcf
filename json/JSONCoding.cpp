#include "json/JSONCoding.h"

#include "platform/foundation/Error.h"

namespace json {

using foundation::Result;
using foundation::Value;

// ---------------------------------------------------------------------------------------------
// JSON's side

Result<void> JSON::encode(Encoder& encoder) const {
  auto container = encoder.singleValueContainer();
  if (!container) return container.error();
  SingleValueEncodingContainer& out = **container;
  // The order of the tests decides: 3.0 is written as the integer 3, and a bool, whose number
  // never passes the integer or double tests, as a bool.
  if (object_.isNull()) return out.encodeNil();
  if (const foundation::Number* number = object_.number()) {
    if (auto integer = number->exactInt64()) return out.encodeInt64(*integer);
    if (auto integer = number->exactUInt64()) return out.encodeUInt64(*integer);
    if (!number->isBool()) return out.encodeDouble(number->doubleValue());
    return out.encodeBool(number->boolValue());
  }
  if (const std::string* text = object_.string()) return out.encodeString(*text);
  if (object_.array()) return out.encodeArray(arrayValue());
  if (object_.dictionary()) return out.encodeDictionary(dictionaryValue());
  return {};
}

JSON JSON::fromDecoder(Decoder& decoder) {
  auto container = decoder.singleValueContainer();
  if (!container) return JSON();
  SingleValueDecodingContainer& in = **container;
  if (in.decodeNil()) return JSON();
  if (auto v = in.decodeBool()) return JSON(*v);
  if (auto v = in.decodeInt64()) return JSON(*v);
  if (auto v = in.decodeUInt64()) return JSON(*v);
  if (auto v = in.decodeDouble()) return JSON(*v);
  if (auto v = in.decodeString()) return JSON(std::move(*v));
  if (auto v = in.decodeArray()) {
    std::vector<Value> elements;
    elements.reserve(v->size());
    for (const JSON& element : *v) elements.push_back(element.object());
    return JSON(Value(foundation::Array(std::move(elements))));
  }
  if (auto v = in.decodeDictionary()) {
    foundation::Dictionary map;
    map.reserve(v->size());
    for (const auto& [key, value] : *v) map.set(key, value.object());
    return JSON(Value(std::move(map)));
  }
  return JSON();
}

// ---------------------------------------------------------------------------------------------
// ValueEncoder

Result<void> ValueEncoder::encodeNil() {
  value_ = Value(nullptr);
  return {};
}
Result<void> ValueEncoder::encodeBool(bool value) {
  value_ = Value(value);
  return {};
}
Result<void> ValueEncoder::encodeInt64(std::int64_t value) {
  value_ = Value(value);
  return {};
}
Result<void> ValueEncoder::encodeUInt64(std::uint64_t value) {
  value_ = Value(value);
  return {};
}
Result<void> ValueEncoder::encodeDouble(double value) {
  value_ = Value(value);
  return {};
}
Result<void> ValueEncoder::encodeString(const std::string& value) {
  value_ = Value(value);
  return {};
}

Result<void> ValueEncoder::encodeArray(const std::vector<JSON>& elements) {
  std::vector<Value> values;
  values.reserve(elements.size());
  for (const JSON& element : elements) {
    ValueEncoder nested;
    if (auto r = element.encode(nested); !r) return r.error();
    values.push_back(nested.value_.isAbsent() ? Value(nullptr) : nested.value_);
  }
  value_ = Value(foundation::Array(std::move(values)));
  return {};
}

Result<void> ValueEncoder::encodeDictionary(const JSONDictionary& entries) {
  foundation::Dictionary map;
  map.reserve(entries.size());
  for (const auto& [key, element] : entries) {
    ValueEncoder nested;
    if (auto r = element.encode(nested); !r) return r.error();
    map.set(key, nested.value_.isAbsent() ? Value(nullptr) : nested.value_);
  }
  value_ = Value(std::move(map));
  return {};
}

// ---------------------------------------------------------------------------------------------
// ValueDecoder

namespace {

foundation::Error typeMismatch(const char* expected) {
  return foundation::Error::cocoa(foundation::CocoaError::PropertyListReadCorrupt,
                                  std::string("cannot decode ") + expected + ": the value is of another kind");
}

}  // namespace

bool ValueDecoder::decodeNil() { return value_.isNull() || value_.isAbsent(); }

Result<bool> ValueDecoder::decodeBool() {
  if (auto v = value_.asBool()) return *v;
  return typeMismatch("a bool");
}

Result<std::int64_t> ValueDecoder::decodeInt64() {
  if (auto v = value_.asInt64()) return *v;
  return typeMismatch("a signed integer");
}

Result<std::uint64_t> ValueDecoder::decodeUInt64() {
  if (auto v = value_.asUInt64()) return *v;
  return typeMismatch("an unsigned integer");
}

Result<double> ValueDecoder::decodeDouble() {
  if (auto v = value_.asDouble()) return *v;
  return typeMismatch("a double");
}

Result<std::string> ValueDecoder::decodeString() {
  if (const std::string* v = value_.string()) return *v;
  return typeMismatch("a string");
}

Result<std::vector<JSON>> ValueDecoder::decodeArray() {
  const foundation::Array* array = value_.array();
  if (!array) return typeMismatch("an array");
  std::vector<JSON> elements;
  elements.reserve(array->size());
  for (const Value& element : *array) {
    ValueDecoder nested(element);
    elements.push_back(JSON::fromDecoder(nested));
  }
  return elements;
}

Result<JSONDictionary> ValueDecoder::decodeDictionary() {
  const foundation::Dictionary* dictionary = value_.dictionary();
  if (!dictionary) return typeMismatch("a dictionary");
  JSONDictionary entries;
  entries.reserve(dictionary->size());
  for (const auto& [key, value] : *dictionary) {
    ValueDecoder nested(value);
    entries.emplace_back(key, JSON::fromDecoder(nested));
  }
  return entries;
}

}  // namespace json
