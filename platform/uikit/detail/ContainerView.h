#pragma once
#include <functional>

#include "platform/uikit/View.h"

namespace uikit::detail {

/// How long an animated push, presentation or dismissal takes, in seconds.
inline constexpr double kDefaultTransitionDuration = 0.3;

/// A view that tells its controller when it lays out, so bars follow size and safe-area changes.
class ContainerView : public UIView {
 public:
  std::function<void()> onLayout;
  void layoutSubviews() override {
    UIView::layoutSubviews();
    if (onLayout) onLayout();
  }
  void safeAreaInsetsDidChange() override { setNeedsLayout(); }
};

}  // namespace uikit::detail
