#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIViewControllerSanitizer.h"

#include <cstdio>
#include <regex>

#include "platform/uikit/Object.h"

std::string DozidiUIViewControllerSanitizer::description(const uikit::NSObject& object) {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(&object));
  return "<" + object.className() + ": " + address + ">";
}

std::string DozidiUIViewControllerSanitizer::sanitizeViewControllerName(const uikit::NSObject& object) {
  return sanitizeViewControllerName(description(object));
}

std::string DozidiUIViewControllerSanitizer::sanitizeViewControllerName(const std::string& textForm) {
  static const std::regex pattern(R"([<.](\w+))");
  std::string joined;
  for (std::sregex_iterator match(textForm.begin(), textForm.end(), pattern), end; match != end; ++match) {
    if (!joined.empty()) joined += '.';
    joined += (*match)[1].str();
  }
  return joined.empty() ? textForm : joined;
}
