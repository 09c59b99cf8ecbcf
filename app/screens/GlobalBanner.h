#pragma once
#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "MessageBanners/Config.h"
#include "MessageBanners/Theme.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/SystemSheets.h"

namespace uikit {
class UIBarButtonItem;
class UIView;
}  // namespace uikit

namespace fendrel {

/// How long a banner of the app stays: a number of seconds, or until it is hidden.
class BannerDuration {
 public:
  static BannerDuration seconds(double seconds) { return BannerDuration(seconds); }
  static BannerDuration forever() { return BannerDuration(std::nullopt); }
  MessageBanners::Duration toDuration() const;

 private:
  explicit BannerDuration(std::optional<double> seconds) : seconds_(seconds) {}
  std::optional<double> seconds_;
};

/// Shows the app's own messages as card banners over the whole app, through the shared banner
/// queue. Main thread only.
class GlobalBanner {
 public:
  enum class BannerType { error, success, warning };

  /// The card's theme for each banner type.
  static MessageBanners::Theme theme(BannerType type);

  /// Queues a card banner. Missing texts show as empty; without a duration it stays 5 seconds;
  /// without a button title the card's button is hidden; a tap on the button runs `handler`
  /// and then hides the banner.
  static void show(BannerType type, const std::optional<std::string>& title, const std::optional<std::string>& body,
                   const std::optional<std::string>& iconText = std::nullopt,
                   std::optional<BannerDuration> duration = std::nullopt,
                   std::optional<uikit::UIStatusBarStyle> statusBarStyle = std::nullopt,
                   const std::optional<std::string>& buttonTitle = std::nullopt, std::function<void()> handler = {});

  /// The configuration show queues the banner with.
  static MessageBanners::Config config(std::optional<BannerDuration> duration,
                                       std::optional<uikit::UIStatusBarStyle> statusBarStyle);
};

/// A share-sheet item that hands over the item it was made with.
class ActivityItem : public uikit::UIActivityItemProvider {
 public:
  explicit ActivityItem(std::any placeholderItem) : UIActivityItemProvider(std::move(placeholderItem)) {}
  std::any item() override { return placeholderItem(); }
};

/// The sheet that shares the app: the share text with the app's name, then the app's address;
/// a completed share is logged as "shareDone". On the pad it points at `anchor`.
std::shared_ptr<uikit::UIActivityViewController> makeShareSheet(const std::shared_ptr<uikit::UIView>& anchor);
std::shared_ptr<uikit::UIActivityViewController> makeShareSheet(const std::shared_ptr<uikit::UIBarButtonItem>& anchor);

}  // namespace fendrel
