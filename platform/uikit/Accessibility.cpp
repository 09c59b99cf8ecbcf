#include "platform/uikit/Accessibility.h"

namespace uikit {

namespace {
bool voiceOver = false;
}

std::vector<UIAccessibility::Posted>& UIAccessibility::log() {
  static std::vector<Posted> posted;
  return posted;
}

void UIAccessibility::post(UIAccessibilityNotification notification, std::string argument) {
  log().push_back({notification, std::move(argument)});
}

bool UIAccessibility::isVoiceOverRunning() { return voiceOver; }
void UIAccessibility::setVoiceOverRunning(bool running) { voiceOver = running; }

}  // namespace uikit
