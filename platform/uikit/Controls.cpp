#include "platform/uikit/Controls.h"

#include <algorithm>
#include <cmath>

#include "platform/uikit/Animation.h"
#include "platform/uikit/GestureRecognizer.h"
#include "platform/uikit/Layer.h"
#include "platform/uikit/detail/LayoutEngine.h"

RUNTIME_CLASS(uikit::UIButton, uikit::UIControl, "UIButton");
RUNTIME_CLASS(uikit::UISwitch, uikit::UIControl, "UISwitch");
RUNTIME_CLASS(uikit::UIPageControl, uikit::UIControl, "UIPageControl");
RUNTIME_CLASS(uikit::UITextField, uikit::UIControl, "UITextField");
RUNTIME_CLASS(uikit::UIScrollView, uikit::UIView, "UIScrollView");

namespace uikit {

// Button.

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

// Switch.

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

// Page control.

void UIPageControl::setNumberOfPages(int pages) {
  pages_ = std::max(0, pages);
  current_ = std::clamp(current_, 0, std::max(0, pages_ - 1));
  setHidden(hidesForSinglePage && pages_ <= 1);
}

void UIPageControl::setCurrentPage(int page) { current_ = std::clamp(page, 0, std::max(0, pages_ - 1)); }

void UIPageControl::touchEnded(CGPoint point) {
  bool wasTracking = isTracking();
  bool inside = pointInside(point);
  UIControl::touchEnded(point);
  if (!wasTracking || !inside || pages_ == 0) return;
  int next = point.x < bounds().size.width / 2 ? current_ - 1 : current_ + 1;
  next = std::clamp(next, 0, pages_ - 1);
  if (next == current_) return;
  current_ = next;
  sendActionsForControlEvents(UIControlEventValueChanged);
}

// Scroll view.


UIScrollView::UIScrollView() {
  setClipsToBounds(true);
  pan_ = std::make_shared<UIPanGestureRecognizer>();
}

void UIScrollView::didMoveToSuperview() {
  // The pan is wired once the view is a shared object, so its action can hold it weakly.
  if (pan_->view()) return;
  addGestureRecognizer(pan_);
  auto self = std::static_pointer_cast<UIScrollView>(shared_from_this());
  pan_->addTarget<UIScrollView>(self, "handlePan:", [](UIScrollView& v, UIGestureRecognizer&) { v.handlePan(); });
}

void UIScrollView::setContentOffset(CGPoint offset, bool animated) {
  CGRect b = bounds();
  b.origin = offset;
  setBounds(b);
  if (auto d = delegate.lock()) {
    d->scrollViewDidScroll(*this);
    if (animated) d->scrollViewDidEndScrollingAnimation(*this);
  }
}

void UIScrollView::layoutSubviews() {
  UIView::layoutSubviews();
  const UIView* root = this;
  while (root->superviewPointer()) root = root->superviewPointer();
  auto* engine = root->layoutEngineIfAny();
  if (!engine) return;
  auto [width, height] = engine->solvedContentSize(this);
  if (width) contentSize.width = *width;
  if (height) contentSize.height = *height;
}

void UIScrollView::scrollRectToVisible(const CGRect& rect, bool animated) {
  CGPoint offset = contentOffset();
  CGSize size = bounds().size;
  auto axis = [](CGFloat current, CGFloat visible, CGFloat start, CGFloat length, CGFloat content) {
    if (!std::isfinite(start) || !std::isfinite(length)) return current;
    CGFloat next = current;
    if (start + length > next + visible) next = start + length - visible;
    if (start < next) next = start;
    return std::clamp<CGFloat>(next, 0, std::max<CGFloat>(0, content - visible));
  };
  CGPoint target{axis(offset.x, size.width, rect.origin.x, rect.size.width, contentSize.width),
                 axis(offset.y, size.height, rect.origin.y, rect.size.height, contentSize.height)};
  if (target.x == offset.x && target.y == offset.y) return;
  setContentOffset(target, animated);
}

void UIScrollView::handlePan() {
  auto state = pan_->state();
  auto d = delegate.lock();
  if (state == UIGestureRecognizerState::Began) {
    dragging_ = true;
    dragStartOffset_ = contentOffset();
    if (d) d->scrollViewWillBeginDragging(*this);
  }
  if (!scrollEnabled) return;
  CGPoint t = pan_->translationInView(nullptr);
  CGSize size = bounds().size;
  auto clampOffset = [&](CGPoint p) {
    CGFloat maxX = std::max<CGFloat>(0, contentSize.width - size.width);
    CGFloat maxY = std::max<CGFloat>(0, contentSize.height - size.height);
    return CGPoint{std::clamp<CGFloat>(p.x, 0, maxX), std::clamp<CGFloat>(p.y, 0, maxY)};
  };
  CGPoint offset = clampOffset({dragStartOffset_.x - t.x, dragStartOffset_.y - t.y});
  if (state == UIGestureRecognizerState::Ended || state == UIGestureRecognizerState::Cancelled) {
    dragging_ = false;
    if (pagingEnabled && size.width > 0) {
      // Settle on the page the drag went towards.
      double start = dragStartOffset_.x / size.width;
      double page = t.x < 0 ? std::ceil(start + 1e-9) : (t.x > 0 ? std::floor(start - 1e-9) : std::round(start));
      offset = clampOffset({page * size.width, offset.y});
    }
    setContentOffset(offset);
    if (d) {
      d->scrollViewDidEndDragging(*this, pagingEnabled);
      d->scrollViewDidEndDecelerating(*this);
    }
    return;
  }
  setContentOffset(offset);
}

// Text field.

namespace {
std::weak_ptr<UITextField>& editing() {
  static std::weak_ptr<UITextField> field;
  return field;
}
}  // namespace

std::shared_ptr<UITextField> UITextField::editingField() { return editing().lock(); }

bool UITextField::isEditing() const { return editing().lock().get() == this; }

bool UITextField::becomeFirstResponder() {
  if (isEditing()) return true;
  if (auto other = editing().lock()) other->resignFirstResponder();
  editing() = std::static_pointer_cast<UITextField>(shared_from_this());
  sendActionsForControlEvents(UIControlEventEditingDidBegin);
  if (auto d = delegate.lock()) d->textFieldDidBeginEditing(*this);
  return true;
}

bool UITextField::resignFirstResponder() {
  if (!isEditing()) return true;
  editing().reset();
  sendActionsForControlEvents(UIControlEventEditingDidEnd);
  if (auto d = delegate.lock()) d->textFieldDidEndEditing(*this);
  return true;
}

namespace {
/// True at the start of a UTF-8 sequence (or at the end of the text).
bool isBoundary(const std::string& text, std::size_t at) {
  return at >= text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80;
}
std::size_t previousBoundary(const std::string& text, std::size_t at) {
  if (at == 0) return 0;
  do --at;
  while (at > 0 && !isBoundary(text, at));
  return at;
}
std::size_t nextBoundary(const std::string& text, std::size_t at) {
  if (at >= text.size()) return text.size();
  do ++at;
  while (at < text.size() && !isBoundary(text, at));
  return at;
}
/// `at` cut to the text and moved back to the start of the character it falls in.
std::size_t boundaryAtOrBefore(const std::string& text, std::size_t at) {
  at = std::min(at, text.size());
  while (at > 0 && !isBoundary(text, at)) --at;
  return at;
}
}  // namespace

void UITextField::setText(std::string text) {
  text_ = std::move(text);
  selection_ = {text_.size(), 0};
}

void UITextField::setSelectedRange(UITextRange range) {
  const std::size_t size = text_.size();
  const std::size_t from = boundaryAtOrBefore(text_, range.location);
  std::size_t end = range.location >= size ? size : range.location + std::min(range.length, size - range.location);
  end = std::max(end, from);
  // A selection that ends inside a character takes the whole character.
  if (!isBoundary(text_, end)) end = nextBoundary(text_, end);
  selection_ = {from, end - from};
}

void UITextField::selectAll() { selection_ = {0, text_.size()}; }

void UITextField::replaceSelection(const std::string& piece) {
  const std::size_t at = std::min(selection_.location, text_.size());
  const std::size_t length = std::min(selection_.length, text_.size() - at);
  if (piece.empty() && length == 0) return;
  text_.replace(at, length, piece);
  selection_ = {at + piece.size(), 0};
  sendActionsForControlEvents(UIControlEventEditingChanged);
}

void UITextField::insertText(const std::string& text) {
  for (std::size_t start = 0; start <= text.size();) {
    auto nl = text.find('\n', start);
    std::string piece = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    if (!piece.empty()) replaceSelection(piece);
    if (nl == std::string::npos) break;
    auto d = delegate.lock();
    if (!d || d->textFieldShouldReturn(*this)) sendActionsForControlEvents(UIControlEventEditingDidEndOnExit);
    start = nl + 1;
  }
}

void UITextField::deleteBackward() {
  if (selection_.length == 0) {
    if (selection_.location == 0) return;
    const std::size_t from = previousBoundary(text_, selection_.location);
    selection_ = {from, selection_.location - from};
  }
  replaceSelection({});
}

void UITextField::deleteForward() {
  if (selection_.length == 0) {
    if (selection_.location >= text_.size()) return;
    selection_.length = nextBoundary(text_, selection_.location) - selection_.location;
  }
  replaceSelection({});
}

void UITextField::moveCaretLeft() {
  selection_ = {selection_.length ? selection_.location : previousBoundary(text_, selection_.location), 0};
}

void UITextField::moveCaretRight() {
  selection_ = {selection_.length ? selection_.end() : nextBoundary(text_, selection_.location), 0};
}

void UITextField::moveCaretToStart() { selection_ = {0, 0}; }

void UITextField::moveCaretToEnd() { selection_ = {text_.size(), 0}; }

void UITextField::touchEnded(CGPoint point) {
  bool wasTracking = isTracking();
  UIControl::touchEnded(point);
  if (wasTracking && pointInside(point)) becomeFirstResponder();
}

// Activity indicator.

UIActivityIndicatorView::UIActivityIndicatorView(UIActivityIndicatorViewStyle s) : style(s) {
  setHidden(true);
  setUserInteractionEnabled(false);
}

void UIActivityIndicatorView::startAnimating() {
  setHidden(false);
  if (animating_) return;
  animating_ = true;
  auto spin = CABasicAnimation::create("transform.rotation.z");
  spin->fromValue = 0.0;
  spin->toValue = 2 * M_PI;
  spin->duration = 1;
  spin->repeatCount = kRepeatForever;
  spin->timingFunction = CAMediaTimingFunction(CAMediaTimingFunction::Name::Linear);
  layer()->addAnimation(spin, kSpinAnimationKey);
}

void UIActivityIndicatorView::stopAnimating() {
  animating_ = false;
  layer()->removeAnimation(kSpinAnimationKey);
  if (hidesWhenStopped) setHidden(true);
}

CGSize UIActivityIndicatorView::intrinsicContentSize() const {
  bool large = style == UIActivityIndicatorViewStyle::Large || style == UIActivityIndicatorViewStyle::WhiteLarge;
  return large ? CGSize{37, 37} : CGSize{20, 20};
}

// Stack view.

void UIStackView::addArrangedSubview(const std::shared_ptr<UIView>& view) {
  if (std::find(arranged_.begin(), arranged_.end(), view) == arranged_.end()) arranged_.push_back(view);
  if (view->superviewPointer() != this) addSubview(view);
}

void UIStackView::removeArrangedSubview(const UIView* view) {
  arranged_.erase(std::remove_if(arranged_.begin(), arranged_.end(), [&](auto& v) { return v.get() == view; }),
                  arranged_.end());
}

// Visual effect view.

UIVisualEffectView::UIVisualEffectView(std::optional<UIBlurEffectStyle> e) : effect(e) {
  content_ = std::make_shared<UIView>();
}

void UIVisualEffectView::layoutSubviews() {
  if (content_->superviewPointer() != this) insertSubview(content_, 0);
  content_->setFrame(bounds());
  UIView::layoutSubviews();
}

}  // namespace uikit
