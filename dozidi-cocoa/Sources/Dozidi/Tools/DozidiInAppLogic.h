#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

/// Decides whether a binary image belongs to the app, so that stack frames can be marked in-app:
/// an image is in-app when its file name begins with one of the includes, ignoring case. The
/// excludes are kept for callers but never turn an include's answer around. Immutable; any thread
/// may share it.
class DozidiInAppLogic {
 public:
  DozidiInAppLogic(std::vector<std::string> inAppIncludes, std::vector<std::string> inAppExcludes);

  const std::vector<std::string>& inAppIncludes() const { return inAppIncludes_; }
  const std::vector<std::string>& inAppExcludes() const { return inAppExcludes_; }

  /// For the image at `imagePath`; no path is not in-app.
  bool isInApp(std::optional<std::string_view> imagePath) const;
  /// For the image that defines the class of `type` (the runtime wrapper's image name); a class
  /// whose image cannot be found is not in-app.
  bool isClassInApp(const std::type_info& type) const;

 private:
  std::vector<std::string> inAppIncludes_;
  std::vector<std::string> inAppExcludes_;
};
