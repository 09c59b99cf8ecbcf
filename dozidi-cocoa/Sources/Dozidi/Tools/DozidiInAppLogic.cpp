#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiInAppLogic.h"

#include <algorithm>
#include <cctype>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDefaultObjCRuntimeWrapper.h"
#include "platform/foundation/TextCase.h"

using foundation::lowercased;

DozidiInAppLogic::DozidiInAppLogic(std::vector<std::string> inAppIncludes, std::vector<std::string> inAppExcludes)
    : inAppIncludes_(std::move(inAppIncludes)), inAppExcludes_(std::move(inAppExcludes)) {}

bool DozidiInAppLogic::isInApp(std::optional<std::string_view> imagePath) const {
  if (!imagePath) return false;
  std::string_view fileName = *imagePath;
  if (auto slash = fileName.rfind('/'); slash != std::string_view::npos) fileName.remove_prefix(slash + 1);
  const std::string name = lowercased(fileName);
  return std::any_of(inAppIncludes_.begin(), inAppIncludes_.end(),
                     [&](const std::string& include) { return name.starts_with(lowercased(include)); });
}

bool DozidiInAppLogic::isClassInApp(const std::type_info& type) const {
  auto imagePath = DozidiDefaultObjCRuntimeWrapper::sharedInstance()->class_getImageName(type);
  if (!imagePath) return false;
  return isInApp(*imagePath);
}
