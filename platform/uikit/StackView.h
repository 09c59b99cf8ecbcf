#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/uikit/LayoutConstraint.h"
#include "platform/uikit/View.h"

namespace uikit {

/// A view that lines up its arranged subviews (kept as a list; placement is the caller's
/// constraints).
class UIStackView : public UIView {
 public:
  std::string className() const override { return "UIStackView"; }
  void addArrangedSubview(const std::shared_ptr<UIView>& view);
  void removeArrangedSubview(const UIView* view);
  const std::vector<std::shared_ptr<UIView>>& arrangedSubviews() const { return arranged_; }
  UILayoutConstraintAxis axis = UILayoutConstraintAxis::Horizontal;
  CGFloat spacing = 0;

 private:
  std::vector<std::shared_ptr<UIView>> arranged_;
};

}  // namespace uikit
