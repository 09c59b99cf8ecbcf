#pragma once
#include <string>

namespace uikit {
class NSObject;
}

/// Turns a view controller into the name its transactions and breadcrumbs carry.
class DozidiUIViewControllerSanitizer {
 public:
  /// The word after each "<" or "." of the object's text form, joined by "."; the text form
  /// itself when there is none. A controller's text form is its class name (module-qualified
  /// where it has a module) in angle brackets with its address, so this yields that name.
  static std::string sanitizeViewControllerName(const uikit::NSObject& object);
  static std::string sanitizeViewControllerName(const std::string& textForm);
  /// The object's text form: "<ClassName: 0x...>".
  static std::string description(const uikit::NSObject& object);
};
