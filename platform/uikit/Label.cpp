#include "platform/uikit/Label.h"

#include <limits>

RUNTIME_CLASS(uikit::UILabel, uikit::UIView, "UILabel");

namespace uikit {

void UILabel::setText(std::string text) {
  text_ = std::move(text);
  invalidateIntrinsicContentSize();
}

void UILabel::setFont(UIFont font) {
  font_ = std::move(font);
  invalidateIntrinsicContentSize();
}

void UILabel::setNumberOfLines(int lines) {
  numberOfLines_ = lines < 0 ? 0 : lines;
  invalidateIntrinsicContentSize();
}

void UILabel::setPreferredMaxLayoutWidth(CGFloat width) {
  preferredMaxLayoutWidth_ = width;
  invalidateIntrinsicContentSize();
}

CGSize UILabel::intrinsicContentSize() const {
  CGFloat wrap = numberOfLines_ != 1 && preferredMaxLayoutWidth_ > 0 ? preferredMaxLayoutWidth_
                                                                     : std::numeric_limits<CGFloat>::infinity();
  return TextMeasurer::current()->measure(text_, font_, wrap, numberOfLines_);
}

CGSize UILabel::sizeThatFits(CGSize size) const {
  CGFloat wrap = numberOfLines_ != 1 && size.width > 0 ? size.width : std::numeric_limits<CGFloat>::infinity();
  return TextMeasurer::current()->measure(text_, font_, wrap, numberOfLines_);
}

}  // namespace uikit
