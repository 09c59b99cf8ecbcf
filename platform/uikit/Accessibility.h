#pragma once
#include <string>
#include <vector>

namespace uikit {

enum UIAccessibilityTraits : unsigned long long {
  UIAccessibilityTraitNone = 0, UIAccessibilityTraitButton = 1ull << 0, UIAccessibilityTraitLink = 1ull << 1,
  UIAccessibilityTraitImage = 1ull << 2, UIAccessibilityTraitSelected = 1ull << 3,
  UIAccessibilityTraitStaticText = 1ull << 6, UIAccessibilityTraitHeader = 1ull << 16,
};

enum class UIAccessibilityNotification : int {
  ScreenChanged = 1000, LayoutChanged = 1001, Announcement = 1008, PageScrolled = 1009,
};

/// Posted accessibility notifications, kept in a log that tests read; the screen-reader flag is
/// set by tests (no assistive technology runs here).
class UIAccessibility {
 public:
  struct Posted {
    UIAccessibilityNotification notification;
    /// The announcement's text, or the description of the element argument.
    std::string argument;
  };
  static void post(UIAccessibilityNotification notification, std::string argument = {});
  static std::vector<Posted>& log();
  static bool isVoiceOverRunning();
  static void setVoiceOverRunning(bool running);
};

}  // namespace uikit
