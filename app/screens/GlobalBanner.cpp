#include "app/screens/GlobalBanner.h"

#include "MessageBanners/MessageBanners.h"
#include "MessageBanners/MessageView.h"
#include "app/core/Singleton.h"
#include "app/screens/StyledControls.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Window.h"

namespace fendrel {

namespace {

constexpr double kDefaultBannerSeconds = 5.0;

std::shared_ptr<MessageBanners::MessageView> makeCardView(GlobalBanner::BannerType type,
                                                          const std::optional<std::string>& title,
                                                          const std::optional<std::string>& body,
                                                          const std::optional<std::string>& iconText,
                                                          const std::optional<std::string>& buttonTitle,
                                                          std::function<void()> handler) {
  using MessageBanners::MessageView;
  // The card layout ships with the banner library; a broken installation is reported there.
  auto view = MessageView::viewFromNib(MessageView::Layout::CardView);
  view->configureTheme(GlobalBanner::theme(type), MessageBanners::IconStyle::Light);
  if (const auto& button = view->button()) {
    if (buttonTitle) {
      button->setTitle(*buttonTitle, uikit::UIControlStateNormal);
      view->buttonTapHandler = [handler = std::move(handler)](uikit::UIButton&) {
        if (handler) handler();
        MessageBanners::MessageBanners::sharedInstance()->hide(true);
      };
    } else {
      button->setHidden(true);
    }
  }
  // Missing texts show as empty ones.
  const std::string titleText = title.value_or("");
  const std::string bodyText = body.value_or("");
  if (iconText) {
    view->configureContent(titleText, bodyText, *iconText);
  } else {
    view->configureContent(titleText, bodyText);
  }
  // The card lays its content out by frames inside the layout's own size, and the banner's
  // container pins only its edges: the card takes the layout's height, grown by what the body
  // needs beyond its own frame (the body grows with the card).
  double height = view->bounds().height();
  if (const auto& bodyLabel = view->bodyLabel()) {
    const auto frame = bodyLabel->frame();
    const double needed = bodyLabel->sizeThatFits({frame.width(), 0}).height;
    if (needed > frame.height()) height += needed - frame.height();
  }
  view->heightAnchor().constraintEqualToConstant(height)->setActive(true);
  return view;
}

std::shared_ptr<uikit::UIActivityViewController> makeShareSheetItems() {
  Singleton& singleton = Singleton::shared();
  const std::string text = singleton.shareText() + "\n\n" + appName();
  std::vector<std::any> items{
      std::shared_ptr<uikit::UIActivityItemProvider>(std::make_shared<ActivityItem>(text)),
      std::shared_ptr<uikit::UIActivityItemProvider>(std::make_shared<ActivityItem>(singleton.shareAppUrl())),
  };
  auto sheet = std::make_shared<uikit::UIActivityViewController>(std::move(items));
  sheet->excludedActivityTypes = {uikit::UIActivityTypePrint, uikit::UIActivityTypeAssignToContact,
                                  uikit::UIActivityTypeSaveToCameraRoll, uikit::UIActivityTypeAirDrop};
  sheet->completionWithItemsHandler = [](std::optional<std::string> activityType, bool completed,
                                         std::vector<std::any>, std::optional<foundation::Error>) {
    if (!activityType || !completed) return;
    Singleton::shared().analytics()->log("shareDone", {{"activityType", *activityType}}, tovel::Once::No);
  };
  return sheet;
}

}  // namespace

MessageBanners::Duration BannerDuration::toDuration() const {
  return seconds_ ? MessageBanners::Duration::seconds(*seconds_) : MessageBanners::Duration::forever();
}

MessageBanners::Theme GlobalBanner::theme(BannerType type) {
  switch (type) {
    case BannerType::error:
      return MessageBanners::Theme::Error;
    case BannerType::success:
      return MessageBanners::Theme::Success;
    case BannerType::warning:
      break;
  }
  return MessageBanners::Theme::Warning;
}

MessageBanners::Config GlobalBanner::config(std::optional<BannerDuration> duration,
                                            std::optional<uikit::UIStatusBarStyle> statusBarStyle) {
  MessageBanners::Config config;
  config.presentationContext = MessageBanners::PresentationContext::window(uikit::UIWindowLevelNormal);
  config.duration = duration ? duration->toDuration() : MessageBanners::Duration::seconds(kDefaultBannerSeconds);
  config.preferredStatusBarStyle = statusBarStyle;
  return config;
}

void GlobalBanner::show(BannerType type, const std::optional<std::string>& title,
                        const std::optional<std::string>& body, const std::optional<std::string>& iconText,
                        std::optional<BannerDuration> duration, std::optional<uikit::UIStatusBarStyle> statusBarStyle,
                        const std::optional<std::string>& buttonTitle, std::function<void()> handler) {
  MessageBanners::MessageBanners::sharedInstance()->show(
      config(duration, statusBarStyle),
      [=, handler = std::move(handler)]() -> std::shared_ptr<uikit::UIView> {
        return makeCardView(type, title, body, iconText, buttonTitle, handler);
      });
}

std::shared_ptr<uikit::UIActivityViewController> makeShareSheet(const std::shared_ptr<uikit::UIView>& anchor) {
  auto sheet = makeShareSheetItems();
  if (auto& popover = sheet->popoverPresentationController(); popover && anchor) {
    popover->sourceView = anchor;
    popover->sourceRect = anchor->bounds();
  }
  return sheet;
}

std::shared_ptr<uikit::UIActivityViewController> makeShareSheet(const std::shared_ptr<uikit::UIBarButtonItem>& anchor) {
  auto sheet = makeShareSheetItems();
  if (auto& popover = sheet->popoverPresentationController()) popover->barButtonItem = anchor;
  return sheet;
}

}  // namespace fendrel
