#pragma once
#include <string>
#include <string_view>

namespace foundation {

/// `text` with the ASCII letters A to Z turned into a to z; every other byte (UTF-8 sequences
/// included) stays as it is, whatever the locale. Host names, schemes, header values and file
/// names are compared this way.
inline std::string lowercased(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

}  // namespace foundation
