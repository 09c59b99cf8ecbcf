#pragma once
#include <memory>
#include <optional>
#include <utility>

#include "MessageBanners/Config.h"
#include "MessageBanners/MessageBanners.h"
#include "MessageBanners/MessageHostingView.h"
#include "platform/uikit/DeclarativeState.h"
#include "platform/uikit/HostingController.h"

namespace MessageBanners {

/// Binds an optional message to the banner queue: when the bound value changes to a message, its
/// banner is queued; when the banner of the bound message hides, the binding goes back to none.
template <MessageViewConvertible Message>
class BannerMessageModifier {
 public:
  BannerMessageModifier(uikit::Binding<std::optional<Message>> message, std::optional<Config> config,
                        std::shared_ptr<MessageBanners> messageBanners)
      : message_(std::move(message)), config_(std::move(config)), messageBanners_(std::move(messageBanners)) {}

  /// The content, with the show step run on every change of the bound value.
  template <uikit::DeclarativeView Content>
  class Modified {
   public:
    Modified(Content content, BannerMessageModifier modifier)
        : content_(std::move(content)), modifier_(std::move(modifier)) {}
    std::shared_ptr<uikit::UIView> makeView() const {
      auto view = content_.makeView();
      auto modifier = modifier_;
      modifier_.message_.onChange([modifier](const std::optional<Message>& value) { modifier.show(value); });
      return view;
    }

   private:
    Content content_;
    BannerMessageModifier modifier_;
  };

  template <uikit::DeclarativeView Content>
  Modified<Content> body(Content content) const {
    return Modified<Content>(std::move(content), *this);
  }

  /// Queues the banner of `value`; none leaves whatever shows or waits alone.
  void show(const std::optional<Message>& value) const {
    if (!value) return;
    auto manager = messageBanners_ ? messageBanners_ : MessageBanners::sharedInstance();
    auto view = makeMessageHostingView(*value);
    Config config = config_ ? *config_ : manager->defaultConfig();
    auto binding = message_;
    config.eventListeners.push_back([binding](const Event& event) {
      if (event.kind != Event::Kind::DidHide) return;
      auto* identifiable = dynamic_cast<Identifiable*>(event.view.get());
      const std::optional<std::string> hiddenId =
          identifiable ? std::optional<std::string>(identifiable->id()) : std::nullopt;
      const auto bound = binding.get();
      const std::optional<std::string> boundId = bound ? std::optional<std::string>(bound->id()) : std::nullopt;
      if (hiddenId == boundId) binding.set(std::nullopt);
    });
    manager->show(config, view);
  }

 private:
  uikit::Binding<std::optional<Message>> message_;
  std::optional<Config> config_;
  std::shared_ptr<MessageBanners> messageBanners_;
};

/// `content` showing the banners of the bound message; a missing configuration means the
/// manager's default one, a missing manager the shared one.
template <uikit::DeclarativeView Content, MessageViewConvertible Message>
auto bannerMessage(Content content, uikit::Binding<std::optional<Message>> message,
                   std::optional<Config> config = std::nullopt, std::shared_ptr<MessageBanners> messageBanners = nullptr) {
  return BannerMessageModifier<Message>(std::move(message), std::move(config), std::move(messageBanners))
      .body(std::move(content));
}

}  // namespace MessageBanners
