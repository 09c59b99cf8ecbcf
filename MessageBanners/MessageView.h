#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MessageBanners/BaseView.h"
#include "MessageBanners/Identifiable.h"
#include "MessageBanners/Theme.h"
#include "platform/foundation/Bundle.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"

namespace MessageBanners {

/// A message view that assistive technologies can announce and walk.
class AccessibleMessage {
 public:
  virtual ~AccessibleMessage() = default;
  /// The text spoken when the message shows; nothing when there is none.
  virtual std::optional<std::string> accessibilityMessage() const = 0;
  /// The element that speaks the message.
  virtual std::shared_ptr<uikit::UIView> accessibilityElement() const = 0;
  /// Further elements inside the message (buttons and the like), in reading order.
  virtual std::vector<std::shared_ptr<uikit::UIView>> additionalAccessibilityElements() const = 0;
};

/// The library's ready-made message: a title, a body, an icon (image or text) and a button, whose
/// views come from one of the layouts the library ships. Main thread only.
class MessageView : public BaseView, public Identifiable, public AccessibleMessage {
 public:
  using ButtonTapHandler = std::function<void(uikit::UIButton&)>;

  /// The layouts, by nib name.
  enum class Layout { MessageView, CardView, TabView, StatusLine, CenteredView };
  static std::string rawValue(Layout layout);
  /// The layout of a nib name; nothing for any other text.
  static std::optional<Layout> layoutFromRawValue(std::string_view rawValue);

  /// A view with no outlets connected (layouts are normally loaded with viewFromNib).
  static std::shared_ptr<MessageView> create(const uikit::CGRect& frame = {});
  std::string className() const override { return "MessageBanners.MessageView"; }

  /// Loads `layout` from the library's layouts (an app's nib of the same name wins). A layout
  /// that does not load is a fault of the installation: it is reported on the standard error and
  /// a view without outlets comes back.
  static std::shared_ptr<MessageView> viewFromNib(Layout layout);
  /// Loads `layout` from `bundle`, handing `filesOwner` to the nib loader; as above when the
  /// bundle has no such layout.
  static std::shared_ptr<MessageView> viewFromNib(Layout layout, const std::shared_ptr<const foundation::Bundle>& bundle,
                                                  const std::shared_ptr<uikit::NSObject>& filesOwner);

  ButtonTapHandler buttonTapHandler;
  std::optional<std::string> customId;
  /// Spoken before the title and body.
  std::optional<std::string> accessibilityPrefix;

  // Outlets, held strongly.
  const std::shared_ptr<uikit::UILabel>& titleLabel() const { return titleLabel_; }
  void setTitleLabel(std::shared_ptr<uikit::UILabel> label) { titleLabel_ = std::move(label); }
  const std::shared_ptr<uikit::UILabel>& bodyLabel() const { return bodyLabel_; }
  void setBodyLabel(std::shared_ptr<uikit::UILabel> label) { bodyLabel_ = std::move(label); }
  const std::shared_ptr<uikit::UIImageView>& iconImageView() const { return iconImageView_; }
  void setIconImageView(std::shared_ptr<uikit::UIImageView> view) { iconImageView_ = std::move(view); }
  const std::shared_ptr<uikit::UILabel>& iconLabel() const { return iconLabel_; }
  void setIconLabel(std::shared_ptr<uikit::UILabel> label) { iconLabel_ = std::move(label); }
  const std::shared_ptr<uikit::UIButton>& button() const { return button_; }
  /// Moves the tap action from the previous button to `button`.
  void setButton(std::shared_ptr<uikit::UIButton> button);

  /// The button's action: runs buttonTapHandler when one is set.
  void buttonTapped(uikit::UIButton& button);

  /// customId when set, else "MessageView:title=<title>, body=<body>" with each text written as
  /// Optional("…") or nil, so equal texts give equal identities.
  std::string id() const override;
  /// The prefix, title and body that are present, joined with ", "; nothing when none is.
  std::optional<std::string> accessibilityMessage() const override;
  /// The card; the view itself when the card has gone away.
  std::shared_ptr<uikit::UIView> accessibilityElement() const override;
  /// The accessibility elements inside the card, depth first; an element is not entered.
  std::vector<std::shared_ptr<uikit::UIView>> additionalAccessibilityElements() const override;

  // Content. Outlets that are not connected are skipped.
  void configureContent(const std::optional<std::string>& body);
  void configureContent(const std::optional<std::string>& title, const std::optional<std::string>& body);
  /// Shows the image icon and hides the text icon.
  void configureContent(const std::optional<std::string>& title, const std::optional<std::string>& body,
                        std::shared_ptr<uikit::UIImage> iconImage);
  /// Shows the text icon and hides the image icon.
  void configureContent(const std::optional<std::string>& title, const std::optional<std::string>& body,
                        const std::string& iconText);
  /// Sets everything at once; what is not given is cleared. Each icon view shows exactly when it
  /// has content.
  void configureContent(const std::optional<std::string>& title, const std::optional<std::string>& body,
                        std::shared_ptr<uikit::UIImage> iconImage, const std::optional<std::string>& iconText,
                        std::shared_ptr<uikit::UIImage> buttonImage, const std::optional<std::string>& buttonTitle,
                        ButtonTapHandler buttonTapHandler);

  /// Colours the card, the texts and the icon with `foregroundColor` on `backgroundColor`, and
  /// the button inverted; sets the icon (nothing clears it).
  void configureTheme(const uikit::UIColor& backgroundColor, const uikit::UIColor& foregroundColor,
                      std::shared_ptr<uikit::UIImage> iconImage = nullptr,
                      const std::optional<std::string>& iconText = std::nullopt);

  /// Colours the view with `theme` (following the interface style where the system can) and
  /// shows its icon in `iconStyle`; the text icon is cleared and hidden.
  void configureTheme(Theme theme, IconStyle iconStyle);

  /// Fixes the icon views' size (priority 999) and, when given, the image view's content mode.
  void configureIcon(uikit::CGSize size, std::optional<uikit::UIViewContentMode> contentMode = std::nullopt);

  /// A message loaded from a layout is as tall as the layout was drawn, grown by the lines its
  /// body needs beyond its drawn height at the body's present width (the body and its card grow
  /// with the message). The banner's container pins only the edges, so the toolkit's layout sizes
  /// the message from this. A message made in code has no height of its own.
  uikit::CGSize intrinsicContentSize() const override;
  /// Records the layout's drawn heights once the outlets are connected.
  void awakeFromNib() override;
  /// Asks for a new size when the body's width or text changed what it needs.
  void layoutSubviews() override;

 protected:
  MessageView() = default;

 private:
  std::shared_ptr<uikit::UILabel> titleLabel_;
  std::shared_ptr<uikit::UILabel> bodyLabel_;
  std::shared_ptr<uikit::UIImageView> iconImageView_;
  std::shared_ptr<uikit::UILabel> iconLabel_;
  std::shared_ptr<uikit::UIButton> button_;
  std::optional<double> layoutHeight_;
  double bodyLayoutHeight_ = 0;
  double lastFittingHeight_ = -1;
};

/// The library's resource bundle: "MessageBanners_MessageBanners.bundle", then
/// "MessageBanners.bundle", looked for in the main bundle's folder, the code bundle's folder and
/// again the main bundle's folder; the code bundle itself when none exists. Looked up on every call.
std::shared_ptr<const foundation::Bundle> resourceBundle();
/// The bundle of the library's own code.
std::shared_ptr<const foundation::Bundle> codeBundle();
/// Points the code bundle at another folder (tests and installations); empty restores the default.
void setCodeBundlePath(std::string path);

}  // namespace MessageBanners
