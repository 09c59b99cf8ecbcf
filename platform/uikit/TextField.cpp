#include "platform/uikit/TextField.h"

#include <algorithm>

RUNTIME_CLASS(uikit::UITextField, uikit::UIControl, "UITextField");

namespace uikit {

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

}  // namespace uikit
