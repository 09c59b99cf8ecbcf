#pragma once
#include <optional>
#include <string>

namespace foundation {

/// The size of the device's screen in points, and points-to-pixels scale.
struct ScreenFacts {
  double width = 375;
  double height = 667;
  double scale = 2;
};

/// Facts about the device, from "<device root>/device.json". A missing file, a file that is not
/// a JSON object, or a missing or mistyped key gives the default of that fact:
///   "identifierForVendor" (text)   none
///   "systemName" (text)            the kernel's name from uname ("Linux")
///   "systemVersion" (text)         the kernel's release from uname
///   "machine" (text)               the hardware name from uname ("x86_64")
///   "screen" {"width","height","scale"} (numbers)   375, 667, 2
struct DeviceFacts {
  std::optional<std::string> identifierForVendor;
  std::string systemName;
  std::string systemVersion;
  std::string machine;
  ScreenFacts screen;

  /// Reads device.json now (callers keep the result if they need it often).
  static DeviceFacts current();
};

}  // namespace foundation
