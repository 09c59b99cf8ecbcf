#pragma once
#include <concepts>
#include <memory>
#include <string>

#include "MessageBanners/BaseView.h"
#include "MessageBanners/Identifiable.h"
#include "platform/uikit/HostingController.h"

namespace MessageBanners {

/// A declarative message value: comparable (observers watch it for changes), identified by a
/// text, and able to build its declarative `Content`.
template <class Message>
concept MessageViewConvertible =
    std::equality_comparable<Message> && uikit::DeclarativeView<typename Message::Content> &&
    requires(const Message& message) {
      { message.id() } -> std::convertible_to<std::string>;
      { message.content() } -> std::convertible_to<typename Message::Content>;
    };

/// A message view showing declarative content inside the base view's machinery, so such content
/// is queued and presented like any other message. Touches on the banner's empty area pass to
/// what lies behind; only views inside the content catch them. Main thread only.
template <uikit::DeclarativeView Content>
class MessageHostingView : public BaseView, public Identifiable {
 public:
  /// The hosted view fills the view (itself the card), and both backgrounds are clear.
  template <MessageViewConvertible Message>
    requires std::same_as<typename Message::Content, Content>
  static std::shared_ptr<MessageHostingView> create(const Message& message) {
    auto view = std::shared_ptr<MessageHostingView>(new MessageHostingView(message.content(), message.id()));
    view->initBaseView({});
    view->hostVC_.loadViewIfNeeded();
    const auto& hosted = view->hostVC_.view();
    view->installContent(hosted, {});
    view->setBackgroundColor(uikit::UIColor::clearColor());
    hosted->setBackgroundColor(uikit::UIColor::clearColor());
    return view;
  }
  std::string className() const override { return "MessageBanners.MessageHostingView"; }

  /// The identity of the message this view was made from.
  std::string id() const override { return id_; }
  uikit::UIHostingController<Content>& hostVC() { return hostVC_; }

  /// Nothing for a touch on this view or on the hosted view itself.
  std::shared_ptr<uikit::UIView> hitTest(uikit::CGPoint point) override {
    auto hit = BaseView::hitTest(point);
    if (!hit || hit.get() == this || hit->superviewPointer() == this) return nullptr;
    return hit;
  }

 private:
  MessageHostingView(Content content, std::string id) : id_(std::move(id)), hostVC_(std::move(content)) {}

  std::string id_;
  uikit::UIHostingController<Content> hostVC_;
};

/// The hosting view for `message`, its content type taken from the message.
template <MessageViewConvertible Message>
std::shared_ptr<MessageHostingView<typename Message::Content>> makeMessageHostingView(const Message& message) {
  return MessageHostingView<typename Message::Content>::create(message);
}

}  // namespace MessageBanners
