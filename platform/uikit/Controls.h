#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uikit/Control.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"

namespace uikit {

enum UIControlState : unsigned {
  UIControlStateNormal = 0, UIControlStateHighlighted = 1u << 0, UIControlStateDisabled = 1u << 1,
  UIControlStateSelected = 1u << 2,
};

/// A button: a title and an image per control state, shown by its title label and image view.
class UIButton : public UIControl {
 public:
  static std::shared_ptr<UIButton> create(const CGRect& frame = {});
  std::string className() const override { return "UIButton"; }
  /// The title of `state`, else the normal one.
  std::string titleForState(unsigned state) const;
  void setTitle(std::string title, unsigned state);
  std::shared_ptr<UIImage> imageForState(unsigned state) const;
  void setImage(std::shared_ptr<UIImage> image, unsigned state);
  std::optional<UIColor> titleColorForState(unsigned state) const;
  void setTitleColor(UIColor color, unsigned state);
  unsigned state() const;
  const std::shared_ptr<UILabel>& titleLabel();
  const std::shared_ptr<UIImageView>& imageView();
  UIEdgeInsets contentEdgeInsets;

  void setEnabled(bool enabled) override;
  void setHighlighted(bool highlighted) override;
  void setSelected(bool selected) override;
  CGSize intrinsicContentSize() const override;
  void layoutSubviews() override;
  /// A title without a colour of its own follows the inherited tint.
  void tintColorDidChange() override;

 private:
  void refresh();
  void centerTitle();
  std::map<unsigned, std::string> titles_;
  std::map<unsigned, std::shared_ptr<UIImage>> images_;
  std::map<unsigned, UIColor> titleColors_;
  std::shared_ptr<UILabel> titleLabel_;
  std::shared_ptr<UIImageView> imageView_;
};

/// An on/off switch. setOn sends nothing; a tap toggles it and sends value-changed.
class UISwitch : public UIControl {
 public:
  UISwitch();
  std::string className() const override { return "UISwitch"; }
  bool isOn() const { return on_; }
  void setOn(bool on, bool animated = false);
  std::optional<UIColor> onTintColor;
  void touchEnded(CGPoint point) override;
  CGSize intrinsicContentSize() const override { return {51, 31}; }

 private:
  bool on_ = false;
};

/// Dots for pages. Setting the page sends nothing; a tap on either half moves one page and sends
/// value-changed.
class UIPageControl : public UIControl {
 public:
  std::string className() const override { return "UIPageControl"; }
  int numberOfPages() const { return pages_; }
  void setNumberOfPages(int pages);
  int currentPage() const { return current_; }
  void setCurrentPage(int page);
  bool hidesForSinglePage = false;
  std::optional<UIColor> pageIndicatorTintColor;
  std::optional<UIColor> currentPageIndicatorTintColor;
  void touchEnded(CGPoint point) override;

 private:
  int pages_ = 0;
  int current_ = 0;
};

class UIScrollView;

/// What a scroll view tells its delegate.
class UIScrollViewDelegate {
 public:
  virtual ~UIScrollViewDelegate() = default;
  virtual void scrollViewDidScroll(UIScrollView& /*scrollView*/) {}
  virtual void scrollViewWillBeginDragging(UIScrollView& /*scrollView*/) {}
  virtual void scrollViewDidEndDragging(UIScrollView& /*scrollView*/, bool /*decelerate*/) {}
  virtual void scrollViewDidEndDecelerating(UIScrollView& /*scrollView*/) {}
  virtual void scrollViewDidEndScrollingAnimation(UIScrollView& /*scrollView*/) {}
};

/// A view whose bounds origin is its content offset. A drag scrolls it (with paging, it settles
/// on the nearest page in the drag's direction); setting the offset tells the delegate it
/// scrolled but starts no drag.
class UIScrollView : public UIView {
 public:
  UIScrollView();
  std::string className() const override { return "UIScrollView"; }
  CGPoint contentOffset() const { return bounds().origin; }
  void setContentOffset(CGPoint offset, bool animated = false);
  /// Scrolls the least distance that brings `rect` (in content coordinates) into view, within
  /// the content size; nothing happens, and the delegate hears nothing, when it is in view.
  void scrollRectToVisible(const CGRect& rect, bool animated);
  CGSize contentSize;
  UIEdgeInsets contentInset;
  bool pagingEnabled = false;
  bool scrollEnabled = true;
  bool bounces = true;
  bool showsHorizontalScrollIndicator = true;
  bool showsVerticalScrollIndicator = true;
  std::weak_ptr<UIScrollViewDelegate> delegate;
  void flashScrollIndicators() { ++indicatorFlashes; }
  int indicatorFlashes = 0;
  bool isDragging() const { return dragging_; }
  const std::shared_ptr<class UIPanGestureRecognizer>& panGestureRecognizer() const { return pan_; }
  void didMoveToSuperview() override;
  /// Lays out the subviews, then takes the content size the content's constraints give, on the
  /// axes they give one (a descendant tied to the trailing, bottom or centre edge).
  void layoutSubviews() override;

 private:
  void handlePan();
  std::shared_ptr<class UIPanGestureRecognizer> pan_;
  CGPoint dragStartOffset_;
  bool dragging_ = false;
};

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
