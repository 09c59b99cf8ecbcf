#pragma once
#include <string>

#include "platform/uikit/Control.h"

namespace uikit {

/// An on/off switch. setOn sends nothing; a tap toggles it and sends value-changed.
class UISwitch : public UIControl {
 public:
  UISwitch();
  std::string className() const override { return "UISwitch"; }
  bool isOn() const { return on_; }
  void setOn(bool on, bool animated = false);
  std::optional<UIColor> onTintColor;
  void touchEnded(CGPoint point) override;
  CGSize intrinsicContentSize() const override { return {51, 31}; }

 private:
  bool on_ = false;
};

}  // namespace uikit
