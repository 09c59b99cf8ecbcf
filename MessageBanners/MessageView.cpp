#include "MessageBanners/MessageView.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "MessageBanners/NibLoading.h"

#ifndef FENDREL_MESSAGE_BANNERS_CODE_BUNDLE
#define FENDREL_MESSAGE_BANNERS_CODE_BUNDLE ""
#endif

namespace MessageBanners {

namespace {

using uikit::UIButton;
using uikit::UIControlEventTouchUpInside;
using uikit::UIControlStateNormal;

constexpr const char* kButtonAction = "buttonTapped:";

/// A text as a debugger writes an optional string: Optional("…") with quotes, backslashes and
/// control characters escaped, or nil. An empty label text counts as no text.
std::string optionalDescription(const std::shared_ptr<uikit::UILabel>& label) {
  if (!label || label->text().empty()) return "nil";
  std::string out = "Optional(\"";
  for (unsigned char c : label->text()) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char buffer[12];
          std::snprintf(buffer, sizeof buffer, "\\u{%X}", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\")";
}

std::optional<std::string> textOf(const std::shared_ptr<uikit::UILabel>& label) {
  if (!label || label->text().empty()) return std::nullopt;
  return label->text();
}

void collectAccessibilityElements(const uikit::UIView& view, std::vector<std::shared_ptr<uikit::UIView>>& out) {
  for (const auto& subview : view.subviews()) {
    if (subview->isAccessibilityElement)
      out.push_back(subview);
    else
      collectAccessibilityElements(*subview, out);
  }
}

std::string& codeBundlePathSlot() {
  static std::string path;
  return path;
}

}  // namespace

std::string MessageView::rawValue(Layout layout) {
  switch (layout) {
    case Layout::MessageView: return "MessageView";
    case Layout::CardView: return "CardView";
    case Layout::TabView: return "TabView";
    case Layout::StatusLine: return "StatusLine";
    case Layout::CenteredView: return "CenteredView";
  }
  return {};
}

std::optional<MessageView::Layout> MessageView::layoutFromRawValue(std::string_view rawValue) {
  for (auto layout : {Layout::MessageView, Layout::CardView, Layout::TabView, Layout::StatusLine, Layout::CenteredView})
    if (MessageView::rawValue(layout) == rawValue) return layout;
  return std::nullopt;
}

std::shared_ptr<MessageView> MessageView::create(const uikit::CGRect& frame) {
  auto view = std::shared_ptr<MessageView>(new MessageView());
  view->initBaseView(frame);
  return view;
}

namespace {
std::shared_ptr<MessageView> layoutOrBare(foundation::Result<std::shared_ptr<MessageView>> loaded,
                                          MessageView::Layout layout) {
  if (loaded) return std::move(*loaded);
  // The layouts are resources of the library: one that does not load is a broken installation.
  // Say so, and carry on with a view that has no outlets, which every configure call tolerates.
  std::fprintf(stderr, "MessageBanners: the layout %s does not load: %s\n", MessageView::rawValue(layout).c_str(),
               loaded.error().localizedDescription().c_str());
  return MessageView::create();
}
}  // namespace

std::shared_ptr<MessageView> MessageView::viewFromNib(Layout layout) {
  return layoutOrBare(MessageBanners::viewFromNib<MessageView>(rawValue(layout), newNullOwner()), layout);
}

std::shared_ptr<MessageView> MessageView::viewFromNib(Layout layout,
                                                      const std::shared_ptr<const foundation::Bundle>& bundle,
                                                      const std::shared_ptr<uikit::NSObject>& filesOwner) {
  return layoutOrBare(MessageBanners::viewFromNib<MessageView>(rawValue(layout), bundle, filesOwner), layout);
}

void MessageView::setButton(std::shared_ptr<UIButton> button) {
  if (button_) button_->removeTarget(this, kButtonAction, UIControlEventTouchUpInside);
  button_ = std::move(button);
  if (button_) {
    button_->addTarget<MessageView>(std::static_pointer_cast<MessageView>(shared_from_this()), kButtonAction,
                                    UIControlEventTouchUpInside, [](MessageView& view, uikit::UIControl& sender) {
                                      if (auto* pressed = dynamic_cast<UIButton*>(&sender)) view.buttonTapped(*pressed);
                                    });
  }
}

void MessageView::buttonTapped(UIButton& button) {
  if (buttonTapHandler) buttonTapHandler(button);
}

std::string MessageView::id() const {
  if (customId) return *customId;
  return "MessageView:title=" + optionalDescription(titleLabel_) + ", body=" + optionalDescription(bodyLabel_);
}

std::optional<std::string> MessageView::accessibilityMessage() const {
  std::vector<std::string> parts;
  if (accessibilityPrefix) parts.push_back(*accessibilityPrefix);
  if (auto title = textOf(titleLabel_)) parts.push_back(*title);
  if (auto body = textOf(bodyLabel_)) parts.push_back(*body);
  if (parts.empty()) return std::nullopt;
  std::string joined = parts[0];
  for (std::size_t i = 1; i < parts.size(); ++i) joined += ", " + parts[i];
  return joined;
}

std::shared_ptr<uikit::UIView> MessageView::accessibilityElement() const {
  if (auto background = backgroundView()) return background;
  return std::const_pointer_cast<uikit::UIView>(shared_from_this());
}

std::vector<std::shared_ptr<uikit::UIView>> MessageView::additionalAccessibilityElements() const {
  std::vector<std::shared_ptr<uikit::UIView>> elements;
  // A card that has gone away counts as the view itself.
  auto background = backgroundView();
  collectAccessibilityElements(background ? *background : static_cast<const uikit::UIView&>(*this), elements);
  return elements;
}

void MessageView::awakeFromNib() {
  BaseView::awakeFromNib();
  layoutHeight_ = bounds().height();
  if (bodyLabel_) bodyLayoutHeight_ = bodyLabel_->bounds().height();
}

uikit::CGSize MessageView::intrinsicContentSize() const {
  if (!layoutHeight_) return BaseView::intrinsicContentSize();
  double height = *layoutHeight_;
  if (bodyLabel_ && !bodyLabel_->isHidden() && !bodyLabel_->text().empty()) {
    const double needed = bodyLabel_->sizeThatFits({bodyLabel_->bounds().width(), 0}).height;
    height += std::max(0.0, needed - bodyLayoutHeight_);
  }
  return {uikit::UIViewNoIntrinsicMetric, height};
}

void MessageView::layoutSubviews() {
  BaseView::layoutSubviews();
  if (!layoutHeight_) return;
  const double height = intrinsicContentSize().height;
  if (height == lastFittingHeight_) return;
  lastFittingHeight_ = height;
  invalidateIntrinsicContentSize();
}

void MessageView::configureContent(const std::optional<std::string>& body) {
  if (bodyLabel_) bodyLabel_->setText(body.value_or(""));
}

void MessageView::configureContent(const std::optional<std::string>& title, const std::optional<std::string>& body) {
  if (titleLabel_) titleLabel_->setText(title.value_or(""));
  configureContent(body);
}

void MessageView::configureContent(const std::optional<std::string>& title, const std::optional<std::string>& body,
                                   std::shared_ptr<uikit::UIImage> iconImage) {
  configureContent(title, body);
  if (iconImageView_) {
    iconImageView_->setImage(std::move(iconImage));
    iconImageView_->setHidden(false);
  }
  if (iconLabel_) {
    iconLabel_->setText("");
    iconLabel_->setHidden(true);
  }
}

void MessageView::configureContent(const std::optional<std::string>& title, const std::optional<std::string>& body,
                                   const std::string& iconText) {
  configureContent(title, body);
  if (iconLabel_) {
    iconLabel_->setText(iconText);
    iconLabel_->setHidden(false);
  }
  if (iconImageView_) {
    iconImageView_->setHidden(true);
    iconImageView_->setImage(nullptr);
  }
}

void MessageView::configureContent(const std::optional<std::string>& title, const std::optional<std::string>& body,
                                   std::shared_ptr<uikit::UIImage> iconImage,
                                   const std::optional<std::string>& iconText,
                                   std::shared_ptr<uikit::UIImage> buttonImage,
                                   const std::optional<std::string>& buttonTitle, ButtonTapHandler handler) {
  configureContent(title, body);
  if (iconImageView_) iconImageView_->setImage(std::move(iconImage));
  if (iconLabel_) iconLabel_->setText(iconText.value_or(""));
  if (button_) {
    button_->setImage(std::move(buttonImage), UIControlStateNormal);
    button_->setTitle(buttonTitle.value_or(""), UIControlStateNormal);
  }
  buttonTapHandler = std::move(handler);
  if (iconImageView_) iconImageView_->setHidden(iconImageView_->image() == nullptr);
  if (iconLabel_) iconLabel_->setHidden(iconLabel_->text().empty());
}

void MessageView::configureTheme(const uikit::UIColor& backgroundColor, const uikit::UIColor& foregroundColor,
                                 std::shared_ptr<uikit::UIImage> iconImage, const std::optional<std::string>& iconText) {
  if (iconImageView_) {
    iconImageView_->setImage(std::move(iconImage));
    // Icons are template images: the tint colours them.
    iconImageView_->setTintColor(foregroundColor);
  }
  if (iconLabel_) iconLabel_->setText(iconText.value_or(""));
  // A card that has gone away leaves the view itself to carry the colour.
  auto background = backgroundView();
  (background ? background.get() : static_cast<uikit::UIView*>(this))->setBackgroundColor(backgroundColor);
  for (const auto& label : {iconLabel_, titleLabel_, bodyLabel_})
    if (label) label->textColor = foregroundColor;
  if (button_) {
    // The button shows the theme inverted.
    button_->setBackgroundColor(foregroundColor);
    button_->setTintColor(backgroundColor);
    button_->setTitleColor(backgroundColor, UIControlStateNormal);
    button_->contentEdgeInsets = {7, 7, 7, 7};
    button_->layer()->setCornerRadius(5);
  }
  if (iconImageView_) iconImageView_->setHidden(iconImageView_->image() == nullptr);
  if (iconLabel_) iconLabel_->setHidden(iconLabel_->text().empty());
}

void MessageView::configureIcon(uikit::CGSize size, std::optional<uikit::UIViewContentMode> contentMode) {
  auto fix = [&](uikit::UIView& view) {
    auto height = view.heightAnchor().constraintEqualToConstant(size.height);
    auto width = view.widthAnchor().constraintEqualToConstant(size.width);
    height->setPriority(999);
    width->setPriority(999);
    view.addConstraints({height, width});
  };
  if (iconImageView_) {
    fix(*iconImageView_);
    if (contentMode) iconImageView_->contentMode = *contentMode;
  }
  // Labels have no content mode here: they always draw their text as laid out.
  if (iconLabel_) fix(*iconLabel_);
}

// The resource bundle.

void setCodeBundlePath(std::string path) { codeBundlePathSlot() = std::move(path); }

std::shared_ptr<const foundation::Bundle> codeBundle() {
  std::string path = codeBundlePathSlot().empty() ? FENDREL_MESSAGE_BANNERS_CODE_BUNDLE : codeBundlePathSlot();
  if (auto bundle = foundation::Bundle::atPath(path)) return bundle;
  return std::make_shared<foundation::Bundle>(path, foundation::Dictionary{});
}

std::shared_ptr<const foundation::Bundle> resourceBundle() {
  auto main = foundation::Bundle::main();
  auto code = codeBundle();
  // Folders in the order the platform's package builds look in; an empty path is no folder.
  std::vector<std::string> folders;
  for (const auto& bundle : {main, code, main})
    if (bundle && !bundle->bundlePath().empty()) folders.push_back(bundle->bundlePath());
  for (const char* name : {"MessageBanners_MessageBanners", "MessageBanners"}) {
    for (const auto& folder : folders) {
      if (auto bundle = foundation::Bundle::atPath(folder + "/" + name + ".bundle")) return bundle;
    }
  }
  return code;
}

}  // namespace MessageBanners
