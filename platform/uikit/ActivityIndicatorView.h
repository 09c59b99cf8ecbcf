#pragma once
#include <optional>
#include <string>

#include "platform/uikit/View.h"

namespace uikit {

enum class UIActivityIndicatorViewStyle : int { Medium = 100, Large = 101, White = 1, Gray = 2, WhiteLarge = 0 };

/// A spinner: animating or not, hidden when stopped unless told otherwise.
class UIActivityIndicatorView : public UIView {
 public:
  explicit UIActivityIndicatorView(UIActivityIndicatorViewStyle style = UIActivityIndicatorViewStyle::Medium);
  std::string className() const override { return "UIActivityIndicatorView"; }
  UIActivityIndicatorViewStyle style;
  bool hidesWhenStopped = true;
  std::optional<UIColor> color;
  /// Shows the spinner and turns it: a rotation animation on its layer that runs until stopped.
  void startAnimating();
  void stopAnimating();
  bool isAnimating() const { return animating_; }
  /// The layer animation that turns a spinner.
  static constexpr const char* kSpinAnimationKey = "spin";
  CGSize intrinsicContentSize() const override;

 private:
  bool animating_ = false;
};

}  // namespace uikit
