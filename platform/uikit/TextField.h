#pragma once
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/uikit/Control.h"
#include "platform/uikit/TextMeasurer.h"

namespace uikit {

class UITextField;

class UITextFieldDelegate {
 public:
  virtual ~UITextFieldDelegate() = default;
  virtual bool textFieldShouldReturn(UITextField& /*field*/) { return true; }
  virtual void textFieldDidBeginEditing(UITextField& /*field*/) {}
  virtual void textFieldDidEndEditing(UITextField& /*field*/) {}
};

/// How a text field's edge is drawn.
enum class UITextBorderStyle : int { None = 0, Line = 1, Bezel = 2, RoundedRect = 3 };

/// A part of a text, in UTF-8 bytes.
struct UITextRange {
  std::size_t location = 0;
  std::size_t length = 0;
  std::size_t end() const { return location + length; }
  friend bool operator==(const UITextRange&, const UITextRange&) = default;
};

/// A single line of editable text with a caret and a selection. Setting `text` sends nothing and
/// puts the caret at the end; typing and deleting send editing-changed. One field edits at a time.
/// Positions are byte offsets that always fall between whole characters.
class UITextField : public UIControl {
 public:
  std::string className() const override { return "UITextField"; }
  const std::string& text() const { return text_; }
  void setText(std::string text);
  std::string placeholder;
  UIFont font = UIFont::systemFont(17);
  std::optional<UIColor> textColor;
  UITextBorderStyle borderStyle = UITextBorderStyle::None;
  std::weak_ptr<UITextFieldDelegate> delegate;
  bool becomeFirstResponder();
  bool resignFirstResponder();
  bool isEditing() const;
  /// Replaces the selection with typed text, as the keyboard does; "\n" is the return key, which
  /// asks the delegate and then sends editing-did-end-on-exit.
  void insertText(const std::string& text);
  /// Backspace: removes the selection, else the character before the caret.
  void deleteBackward();
  /// Delete: removes the selection, else the character after the caret.
  void deleteForward();
  /// The caret, or the selected part (empty: just the caret).
  UITextRange selectedRange() const { return selection_; }
  /// Selects `range`, cut to the text and moved out of the middle of characters.
  void setSelectedRange(UITextRange range);
  void selectAll();
  /// Moves the caret one character left or right; an arrow with a selection collapses it to that
  /// side.
  void moveCaretLeft();
  void moveCaretRight();
  void moveCaretToStart();
  void moveCaretToEnd();
  void touchEnded(CGPoint point) override;
  /// The field being edited, if any.
  static std::shared_ptr<UITextField> editingField();

 private:
  void replaceSelection(const std::string& piece);
  std::string text_;
  UITextRange selection_;
};

}  // namespace uikit
