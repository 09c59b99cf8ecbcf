#pragma once
#include <string>
#include <string_view>

namespace foundation {
class Number;
}

namespace detail {

// Pieces of compact JSON text appended to a string, written by the platform's JSON writer as it
// writes the same values (quote, backslash, "/" and control characters escaped, other UTF-8 kept;
// integers exactly, doubles and floats in their shortest round-trip text), so that text written
// piece by piece reads back the same as a value tree written whole. Used to write a transaction's
// spans without building a dictionary for each one.

/// Appends `text` as a JSON string. False, with `out` unchanged, when `text` is not UTF-8.
bool appendJSONString(std::string& out, std::string_view text);
/// Appends `"key":` for a key the caller knows needs no escape.
void appendJSONKey(std::string& out, std::string_view key);
/// Appends a finite double; false, with nothing written, for NaN and the infinities.
bool appendJSONDouble(std::string& out, double value);
/// Appends a number in its kind's form (true/false, integer, float, double); false, with nothing
/// written, for a floating value that is not finite.
bool appendJSONNumber(std::string& out, const foundation::Number& number);

}  // namespace detail
