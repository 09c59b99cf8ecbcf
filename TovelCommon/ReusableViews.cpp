#include "TovelCommon/ReusableViews.h"

#include <cxxabi.h>

#include <cctype>
#include <cstdlib>

#include "platform/uikit/Log.h"

namespace tovel {

namespace detail {

std::string unqualifiedTypeName(const std::type_info& type) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string full = status == 0 && demangled ? demangled : type.name();
  std::free(demangled);
  // Drop every qualifier: a run of name characters (or "(anonymous namespace)") before "::".
  std::string out;
  std::size_t i = 0;
  while (i < full.size()) {
    std::size_t j = i;
    if (full.compare(i, 21, "(anonymous namespace)") == 0) {
      j = i + 21;
    } else {
      while (j < full.size() && (std::isalnum(static_cast<unsigned char>(full[j])) || full[j] == '_')) ++j;
    }
    if (j > i && full.compare(j, 2, "::") == 0) {
      i = j + 2;
      continue;
    }
    if (j == i) j = i + 1;
    out.append(full, i, j - i);
    i = j;
  }
  return out;
}

void logResourceMismatch(const std::string& line) { uikit::UIKitLog::write(line); }

}  // namespace detail

std::optional<StoryboardName> storyboardNameFromRawValue(const std::string& raw) {
  if (raw == "Main") return StoryboardName::Main;
  return std::nullopt;
}

std::string rawValue(StoryboardName name) {
  switch (name) {
    case StoryboardName::Main:
      return "Main";
  }
  return "Main";
}

}  // namespace tovel
