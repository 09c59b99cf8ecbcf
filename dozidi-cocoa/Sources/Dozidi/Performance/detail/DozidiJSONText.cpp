#include "dozidi-cocoa/Sources/Dozidi/Performance/detail/DozidiJSONText.h"

#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/Number.h"

namespace detail {

bool appendJSONString(std::string& out, std::string_view text) {
  return foundation::JSONSerialization::appendString(out, text);
}

void appendJSONKey(std::string& out, std::string_view key) {
  out += '"';
  out += key;
  out += "\":";
}

bool appendJSONDouble(std::string& out, double value) {
  return foundation::JSONSerialization::appendNumber(out, foundation::Number::fromDouble(value));
}

bool appendJSONNumber(std::string& out, const foundation::Number& number) {
  return foundation::JSONSerialization::appendNumber(out, number);
}

}  // namespace detail
