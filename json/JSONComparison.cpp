// Comparison and merging of JSON values.
#include <utf8proc.h>

#include <cstdlib>
#include <memory>

#include "json/JSON.h"

namespace json {

namespace {

enum class Order { Before, Same, After, Unordered };

bool isASCII(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

Order orderOf(int comparison) {
  return comparison < 0 ? Order::Before : (comparison > 0 ? Order::After : Order::Same);
}

/// Canonical composition (NFC) of UTF-8 text; none when the text is not valid UTF-8.
std::optional<std::string> composed(std::string_view text) {
  utf8proc_uint8_t* out = nullptr;
  const utf8proc_ssize_t length =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                   static_cast<utf8proc_ssize_t>(text.size()), &out,
                   static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  if (length < 0) return std::nullopt;
  std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(out, &std::free);
  return std::string(reinterpret_cast<const char*>(out), static_cast<std::size_t>(length));
}

/// Text order: Unicode scalar values of the canonically composed (NFC) texts, as the platform's
/// strings order themselves: canonically equivalent texts are the same, and "e" with a combining
/// acute accent sorts after "z", as its precomposed form does. UTF-8 byte order is scalar order,
/// so the composed bytes are compared.
Order textOrder(std::string_view a, std::string_view b) {
  if (isASCII(a) && isASCII(b)) return orderOf(a.compare(b));
  auto ca = composed(a);
  auto cb = composed(b);
  if (!ca || !cb) return orderOf(a.compare(b));  // text that is not UTF-8 compares by its bytes
  return orderOf(ca->compare(*cb));
}

/// The order of two numbers, or Unordered when either is NaN.
Order numberOrder(const foundation::Number& a, const foundation::Number& b) {
  auto comparison = a.compare(b);
  return comparison ? orderOf(*comparison) : Order::Unordered;
}

enum class Operator { Equal, Less, LessOrEqual, GreaterOrEqual, Greater };

bool holds(Order order, Operator op) {
  switch (op) {
    case Operator::Equal: return order == Order::Same;
    case Operator::Less: return order == Order::Before;
    case Operator::Greater: return order == Order::After;
    case Operator::LessOrEqual: return order == Order::Before || order == Order::Same;
    case Operator::GreaterOrEqual: return order == Order::After || order == Order::Same;
  }
  return false;
}

bool compare(const JSON& a, const JSON& b, Operator op) {
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case Type::Number: return holds(numberOrder(*a.object().number(), *b.object().number()), op);
    case Type::String: return holds(textOrder(*a.object().string(), *b.object().string()), op);
    case Type::Bool:
    case Type::Array:
    case Type::Dictionary:
    case Type::Null:
      // Equal or not, never ordered: only ==, <= and >= can hold.
      if (op == Operator::Less || op == Operator::Greater) return false;
      return a.object() == b.object();
    case Type::Unknown: return false;
  }
  return false;
}

}  // namespace

bool operator==(const JSON& a, const JSON& b) { return compare(a, b, Operator::Equal); }
bool operator<(const JSON& a, const JSON& b) { return compare(a, b, Operator::Less); }
bool operator<=(const JSON& a, const JSON& b) { return compare(a, b, Operator::LessOrEqual); }
bool operator>=(const JSON& a, const JSON& b) { return compare(a, b, Operator::GreaterOrEqual); }
bool operator>(const JSON& a, const JSON& b) { return compare(a, b, Operator::Greater); }

// ---------------------------------------------------------------------------------------------
// Merging

namespace {

/// Merges `other` into `target`; below the top level (`typecheck` false) a value of another
/// type replaces the old one.
foundation::Result<void> mergeInto(JSON& target, const JSON& other, bool typecheck) {
  if (target.type() != other.type()) {
    if (typecheck) return toError(JSONError::WrongType);
    target = other;
    return {};
  }
  if (target.type() == Type::Dictionary) {
    for (const auto& [key, value] : other) {
      JSON member = target.get(key);
      (void)mergeInto(member, value, false);
      target.set({key}, member);
    }
    return {};
  }
  if (target.type() == Type::Array) {
    std::vector<foundation::Value> elements;
    elements.reserve(static_cast<std::size_t>(target.count() + other.count()));
    for (const JSON& element : target.arrayValue()) elements.push_back(element.object());
    for (const JSON& element : other.arrayValue()) elements.push_back(element.object());
    target = JSON(foundation::Value(foundation::Array(std::move(elements))));
    return {};
  }
  target = other;
  return {};
}

}  // namespace

foundation::Result<void> JSON::merge(const JSON& other) {
  if (&other == this) {
    // Merging a value into itself reads what it writes: merge a copy.
    const JSON copy = other;
    return mergeInto(*this, copy, true);
  }
  return mergeInto(*this, other, true);
}

foundation::Result<JSON> JSON::merged(const JSON& other) const {
  JSON copy = *this;
  auto result = copy.merge(other);
  if (!result) return result.error();
  return copy;
}

}  // namespace json
