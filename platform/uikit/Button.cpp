#include "platform/uikit/Button.h"

#include <algorithm>

RUNTIME_CLASS(uikit::UIButton, uikit::UIControl, "UIButton");

namespace uikit {

std::shared_ptr<UIButton> UIButton::create(const CGRect& frame) {
  auto button = std::make_shared<UIButton>();
  button->setFrame(frame);
  return button;
}

unsigned UIButton::state() const {
  unsigned s = UIControlStateNormal;
  if (isHighlighted()) s |= UIControlStateHighlighted;
  if (!isEnabled()) s |= UIControlStateDisabled;
  if (isSelected()) s |= UIControlStateSelected;
  return s;
}

std::string UIButton::titleForState(unsigned state) const {
  if (auto it = titles_.find(state); it != titles_.end()) return it->second;
  if (auto it = titles_.find(UIControlStateNormal); it != titles_.end()) return it->second;
  return {};
}

void UIButton::setTitle(std::string title, unsigned state) {
  bool shows = !title.empty();
  titles_[state] = std::move(title);
  // A button shows its title: the label is made as soon as there is one to show.
  if (shows && !titleLabel_) titleLabel();
  refresh();
}

std::shared_ptr<UIImage> UIButton::imageForState(unsigned state) const {
  if (auto it = images_.find(state); it != images_.end()) return it->second;
  if (auto it = images_.find(UIControlStateNormal); it != images_.end()) return it->second;
  return nullptr;
}

void UIButton::setImage(std::shared_ptr<UIImage> image, unsigned state) {
  bool shows = image != nullptr;
  images_[state] = std::move(image);
  if (shows && !imageView_) imageView();
  refresh();
}

std::optional<UIColor> UIButton::titleColorForState(unsigned state) const {
  if (auto it = titleColors_.find(state); it != titleColors_.end()) return it->second;
  if (auto it = titleColors_.find(UIControlStateNormal); it != titleColors_.end()) return it->second;
  return std::nullopt;
}

void UIButton::setTitleColor(UIColor color, unsigned state) {
  titleColors_[state] = color;
  refresh();
}

const std::shared_ptr<UILabel>& UIButton::titleLabel() {
  if (!titleLabel_) {
    titleLabel_ = std::make_shared<UILabel>();
    titleLabel_->setUserInteractionEnabled(false);
    addSubview(titleLabel_);
    refresh();
  }
  return titleLabel_;
}

const std::shared_ptr<UIImageView>& UIButton::imageView() {
  if (!imageView_) {
    imageView_ = std::make_shared<UIImageView>();
    addSubview(imageView_);
    refresh();
  }
  return imageView_;
}

void UIButton::refresh() {
  unsigned s = state();
  if (titleLabel_) {
    titleLabel_->setText(titleForState(s));
    titleLabel_->textColor = titleColorForState(s).value_or(tintColor());
    titleLabel_->sizeToFit();
    centerTitle();
  }
  if (imageView_) imageView_->setImage(imageForState(s));
}

void UIButton::centerTitle() {
  CGRect b = bounds();
  CGSize t = titleLabel_->bounds().size;
  titleLabel_->setFrame({(b.size.width - t.width) / 2, (b.size.height - t.height) / 2, t.width, t.height});
}

void UIButton::tintColorDidChange() { refresh(); }

void UIButton::layoutSubviews() {
  UIControl::layoutSubviews();
  // The title stays centred when the button changes size.
  if (titleLabel_) centerTitle();
}

void UIButton::setEnabled(bool enabled) {
  UIControl::setEnabled(enabled);
  refresh();
}
void UIButton::setHighlighted(bool highlighted) {
  UIControl::setHighlighted(highlighted);
  refresh();
}
void UIButton::setSelected(bool selected) {
  UIControl::setSelected(selected);
  refresh();
}

CGSize UIButton::intrinsicContentSize() const {
  auto* self = const_cast<UIButton*>(this);
  CGSize t = self->titleLabel()->intrinsicContentSize();
  CGSize i = imageForState(state()) ? imageForState(state())->size() : CGSize{0, 0};
  return {t.width + i.width + contentEdgeInsets.left + contentEdgeInsets.right,
          std::max(t.height, i.height) + contentEdgeInsets.top + contentEdgeInsets.bottom};
}

}  // namespace uikit
