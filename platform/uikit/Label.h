#pragma once
#include <memory>
#include <string>

#include "platform/uikit/TextMeasurer.h"
#include "platform/uikit/View.h"

namespace uikit {

/// Where the lines of a label sit across its width, numbered as the platform numbers them.
/// Natural follows the writing direction of the text (left for left-to-right text); justified
/// stretches every line but the last to the full width.
enum class NSTextAlignment : int { Left = 0, Center = 1, Right = 2, Justified = 3, Natural = 4 };

/// A view showing text. Its natural size comes from the process's text measurer; a label with
/// several lines wraps at preferredMaxLayoutWidth when one is set.
class UILabel : public UIView {
 public:
  std::string className() const override { return "UILabel"; }

  const std::string& text() const { return text_; }
  void setText(std::string text);
  const UIFont& font() const { return font_; }
  void setFont(UIFont font);
  /// 1 by default; 0 means as many as the text needs.
  int numberOfLines() const { return numberOfLines_; }
  void setNumberOfLines(int lines);
  CGFloat preferredMaxLayoutWidth() const { return preferredMaxLayoutWidth_; }
  void setPreferredMaxLayoutWidth(CGFloat width);
  UIColor textColor = UIColor::labelColor();
  /// Moves the text within the label's bounds only: the label's natural size does not depend on it.
  NSTextAlignment textAlignment = NSTextAlignment::Natural;

  CGSize intrinsicContentSize() const override;
  CGSize sizeThatFits(CGSize size) const override;

 private:
  std::string text_;
  UIFont font_ = UIFont::systemFont(17);
  int numberOfLines_ = 1;
  CGFloat preferredMaxLayoutWidth_ = 0;
};

}  // namespace uikit
