// Typed accessors of JSON values: optional forms, never-failing forms and raw collections.
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "json/JSON.h"

namespace json {

using foundation::Number;
using foundation::Value;

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

/// Text read as a decimal number: the longest prefix of the form [spaces][sign]digits[.digits]
/// [e[sign]digits] (digits on at least one side of the point). None when there is no such
/// prefix or the number is out of range. An integer that fits 64 bits stays exact.
std::optional<Number> decimalNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  const std::size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const std::size_t integerDigits = i;
  while (i < text.size() && isDigit(text[i])) ++i;
  bool hasDigits = i > integerDigits;
  bool integral = true;
  if (i < text.size() && text[i] == '.') {
    std::size_t fraction = i + 1;
    while (fraction < text.size() && isDigit(text[fraction])) ++fraction;
    if (hasDigits || fraction > i + 1) {
      hasDigits = hasDigits || fraction > i + 1;
      integral = false;
      i = fraction;
    }
  }
  if (!hasDigits) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t exponent = i + 1;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    const std::size_t exponentDigits = exponent;
    while (exponent < text.size() && isDigit(text[exponent])) ++exponent;
    if (exponent > exponentDigits) {
      integral = false;
      i = exponent;
    }
  }
  std::string_view number = text.substr(start, i - start);
  if (!number.empty() && number.front() == '+') number.remove_prefix(1);
  if (integral) {
    std::int64_t value = 0;
    auto r = std::from_chars(number.data(), number.data() + number.size(), value);
    if (r.ec == std::errc() && r.ptr == number.data() + number.size()) return Number::fromInt64(value);
  }
  const std::string copy(number);
  const double value = std::strtod(copy.c_str(), nullptr);
  if (!std::isfinite(value)) return std::nullopt;
  return Number::fromDecimal(value);
}

/// True when `text` holds a percent sign followed by two hexadecimal digits: an escape.
bool holdsPercentEscape(std::string_view text) {
  for (std::size_t i = 0; i + 2 < text.size(); ++i) {
    if (text[i] == '%' && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      return true;
    }
  }
  return false;
}

template <class T>
std::optional<T> mapped(const std::optional<Number>& number, T (Number::*read)() const) {
  if (!number) return std::nullopt;
  return ((*number).*read)();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Collections

std::optional<std::vector<JSON>> JSON::array() const {
  if (type_ != Type::Array) return std::nullopt;
  const foundation::Array& raw = *object_.array();
  std::vector<JSON> elements;
  elements.reserve(raw.size());
  for (const Value& element : raw) elements.emplace_back(element);
  return elements;
}

std::vector<JSON> JSON::arrayValue() const { return array().value_or(std::vector<JSON>()); }

std::optional<foundation::Array> JSON::arrayObject() const {
  if (type_ != Type::Array) return std::nullopt;
  return *object_.array();
}

void JSON::setArrayObject(std::optional<foundation::Array> array) {
  setObject(array ? Value(std::move(*array)) : Value(nullptr));
}

std::optional<JSONDictionary> JSON::dictionary() const {
  if (type_ != Type::Dictionary) return std::nullopt;
  const foundation::Dictionary& raw = *object_.dictionary();
  JSONDictionary entries;
  entries.reserve(raw.size());
  for (const auto& [key, value] : raw) entries.emplace_back(key, JSON(value));
  return entries;
}

JSONDictionary JSON::dictionaryValue() const { return dictionary().value_or(JSONDictionary()); }

std::optional<foundation::Dictionary> JSON::dictionaryObject() const {
  if (type_ != Type::Dictionary) return std::nullopt;
  return *object_.dictionary();
}

void JSON::setDictionaryObject(std::optional<foundation::Dictionary> dictionary) {
  setObject(dictionary ? Value(std::move(*dictionary)) : Value(nullptr));
}

// ---------------------------------------------------------------------------------------------
// Booleans, strings, numbers, null and URL

std::optional<bool> JSON::asBool() const {
  if (type_ != Type::Bool) return std::nullopt;
  return object_.number()->boolValue();
}

void JSON::setBool(std::optional<bool> flag) { setObject(flag ? Value(*flag) : Value(nullptr)); }

bool JSON::boolValue() const {
  switch (type_) {
    case Type::Number:
    case Type::Bool: return object_.number()->boolValue();
    case Type::String:
      for (std::string_view word : {"true", "y", "t", "yes", "1"}) {
        if (equalsIgnoringCase(*object_.string(), word)) return true;
      }
      return false;
    default: return false;
  }
}

void JSON::setBoolValue(bool flag) { setObject(Value(flag)); }

std::optional<std::string> JSON::string() const {
  if (type_ != Type::String) return std::nullopt;
  return *object_.string();
}

void JSON::setString(std::optional<std::string> text) {
  setObject(text ? Value(std::move(*text)) : Value(nullptr));
}

std::string JSON::stringValue() const {
  switch (type_) {
    case Type::String: return *object_.string();
    case Type::Number: return object_.number()->stringValue();
    case Type::Bool: return object_.number()->boolValue() ? "true" : "false";
    default: return std::string();
  }
}

void JSON::setStringValue(std::string text) { setObject(Value(std::move(text))); }

std::optional<Number> JSON::number() const {
  if (type_ == Type::Number) return *object_.number();
  if (type_ == Type::Bool) return Number::fromInt64(object_.number()->boolValue() ? 1 : 0);
  return std::nullopt;
}

void JSON::setNumber(std::optional<Number> number) { setObject(number ? Value(*number) : Value(nullptr)); }

Number JSON::numberValue() const {
  if (type_ == Type::String) return decimalNumber(*object_.string()).value_or(Number::fromDecimal(0.0));
  return number().value_or(Number::fromDouble(0.0));
}

void JSON::setNumberValue(Number number) { setObject(Value(number)); }

std::optional<foundation::Null> JSON::null() const {
  if (type_ != Type::Null) return std::nullopt;
  return foundation::Null{};
}

void JSON::setNull() { setObject(Value(nullptr)); }

std::optional<foundation::URL> JSON::url() const {
  if (type_ != Type::String) return std::nullopt;
  const std::string& text = *object_.string();
  if (holdsPercentEscape(text)) return foundation::URL::parse(text);
  return foundation::URL::parse(foundation::percentEncode(text, foundation::URLCharacterSet::QueryAllowed));
}

void JSON::setURL(const std::optional<foundation::URL>& url) {
  setObject(url ? Value(url->absoluteString()) : Value(nullptr));
}

// ---------------------------------------------------------------------------------------------
// Fixed-width numbers. Signed values are stored as signed 64-bit numbers and unsigned ones as
// unsigned 64-bit numbers, so no written integer is ever taken for a bool.

std::optional<double> JSON::asDouble() const { return mapped(number(), &Number::doubleValue); }
double JSON::doubleValue() const { return numberValue().doubleValue(); }
void JSON::setDouble(std::optional<double> v) { setObject(v ? Value(*v) : Value(nullptr)); }
void JSON::setDoubleValue(double v) { setObject(Value(v)); }

std::optional<float> JSON::asFloat() const { return mapped(number(), &Number::floatValue); }
float JSON::floatValue() const { return numberValue().floatValue(); }
void JSON::setFloat(std::optional<float> v) { setObject(v ? Value(*v) : Value(nullptr)); }
void JSON::setFloatValue(float v) { setObject(Value(v)); }

std::optional<std::int64_t> JSON::asInt() const { return mapped(number(), &Number::int64Value); }
std::int64_t JSON::intValue() const { return numberValue().int64Value(); }
void JSON::setInt(std::optional<std::int64_t> v) { setObject(v ? Value(*v) : Value(nullptr)); }
void JSON::setIntValue(std::int64_t v) { setObject(Value(v)); }

std::optional<std::uint64_t> JSON::uInt() const { return mapped(number(), &Number::uint64Value); }
std::uint64_t JSON::uIntValue() const { return numberValue().uint64Value(); }
void JSON::setUInt(std::optional<std::uint64_t> v) { setObject(v ? Value(*v) : Value(nullptr)); }
void JSON::setUIntValue(std::uint64_t v) { setObject(Value(v)); }

std::optional<std::int8_t> JSON::int8() const { return mapped(number(), &Number::int8Value); }
std::int8_t JSON::int8Value() const { return numberValue().int8Value(); }
void JSON::setInt8(std::optional<std::int8_t> v) { setObject(v ? Value(*v) : Value(nullptr)); }
void JSON::setInt8Value(std::int8_t v) { setObject(Value(v)); }

std::optional<std::uint8_t> JSON::uInt8() const { return mapped(number(), &Number::uint8Value); }
std::uint8_t JSON::uInt8Value() const { return numberValue().uint8Value(); }
void JSON::setUInt8(std::optional<std::uint8_t> v) { setObject(v ? Value(*v) : Value(nullptr)); }
void JSON::setUInt8Value(std::uint8_t v) { setObject(Value(v)); }

std::optional<std::int16_t> JSON::int16() const { return mapped(number(), &Number::int16Value); }
std::int16_t JSON::int16Value() const { return numberValue().int16Value(); }
void JSON::setInt16(std::optional<std::int16_t> v) { setObject(v ? Value(*v) : Value(nullptr)); }
void JSON::setInt16Value(std::int16_t v) { setObject(Value(v)); }

std::optional<std::uint16_t> JSON::uInt16() const { return mapped(number(), &Number::uint16Value); }
std::uint16_t JSON::uInt16Value() const { return numberValue().uint16Value(); }
void JSON::setUInt16(std::optional<std::uint16_t> v) { setObject(v ? Value(*v) : Value(nullptr)); }
void JSON::setUInt16Value(std::uint16_t v) { setObject(Value(v)); }

std::optional<std::int32_t> JSON::int32() const { return mapped(number(), &Number::int32Value); }
std::int32_t JSON::int32Value() const { return numberValue().int32Value(); }
void JSON::setInt32(std::optional<std::int32_t> v) { setObject(v ? Value(*v) : Value(nullptr)); }
void JSON::setInt32Value(std::int32_t v) { setObject(Value(v)); }

std::optional<std::uint32_t> JSON::uInt32() const { return mapped(number(), &Number::uint32Value); }
std::uint32_t JSON::uInt32Value() const { return numberValue().uint32Value(); }
void JSON::setUInt32(std::optional<std::uint32_t> v) { setObject(v ? Value(*v) : Value(nullptr)); }
void JSON::setUInt32Value(std::uint32_t v) { setObject(Value(v)); }

std::optional<std::int64_t> JSON::int64() const { return mapped(number(), &Number::int64Value); }
std::int64_t JSON::int64Value() const { return numberValue().int64Value(); }
void JSON::setInt64(std::optional<std::int64_t> v) { setObject(v ? Value(*v) : Value(nullptr)); }
void JSON::setInt64Value(std::int64_t v) { setObject(Value(v)); }

std::optional<std::uint64_t> JSON::uInt64() const { return mapped(number(), &Number::uint64Value); }
std::uint64_t JSON::uInt64Value() const { return numberValue().uint64Value(); }
void JSON::setUInt64(std::optional<std::uint64_t> v) { setObject(v ? Value(*v) : Value(nullptr)); }
void JSON::setUInt64Value(std::uint64_t v) { setObject(Value(v)); }

}  // namespace json
