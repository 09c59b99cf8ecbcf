#pragma once
#include <string>
#include <string_view>

namespace foundation {

/// `c` with an ASCII letter A to Z turned into a to z; any other byte as it is, whatever the locale.
constexpr char lowercasedCharacter(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

/// `text` with the ASCII letters A to Z turned into a to z; every other byte (UTF-8 sequences
/// included) stays as it is, whatever the locale. Host names, schemes, header values and file
/// names are compared this way.
inline std::string lowercased(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = lowercasedCharacter(c);
  return result;
}

}  // namespace foundation
