#include "platform/uikit/Switch.h"

RUNTIME_CLASS(uikit::UISwitch, uikit::UIControl, "UISwitch");

namespace uikit {

UISwitch::UISwitch() { setFrame({0, 0, 51, 31}); }

void UISwitch::setOn(bool on, bool /*animated*/) { on_ = on; }

void UISwitch::touchEnded(CGPoint point) {
  bool wasTracking = isTracking();
  bool inside = pointInside(point);
  UIControl::touchEnded(point);
  if (wasTracking && inside) {
    on_ = !on_;
    sendActionsForControlEvents(UIControlEventValueChanged);
  }
}

}  // namespace uikit
