#pragma once
#include <memory>
#include <optional>
#include <string>

#include "platform/uikit/View.h"

namespace uikit {

enum class UIBlurEffectStyle : int {
  ExtraLight = 0, Light = 1, Dark = 2, Regular = 4, Prominent = 5, SystemMaterial = 7,
};

/// A view with a visual effect (a blur of a style, or none) under its content view.
class UIVisualEffectView : public UIView {
 public:
  explicit UIVisualEffectView(std::optional<UIBlurEffectStyle> effect = std::nullopt);
  std::string className() const override { return "UIVisualEffectView"; }
  std::optional<UIBlurEffectStyle> effect;
  const std::shared_ptr<UIView>& contentView() const { return content_; }
  void layoutSubviews() override;

 private:
  std::shared_ptr<UIView> content_;
};

}  // namespace uikit
