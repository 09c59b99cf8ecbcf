#include "MessageBanners/Archiving.h"

#include <mutex>

#include "MessageBanners/BaseView.h"
#include "MessageBanners/CornerRoundingView.h"
#include "MessageBanners/KeyboardTrackingView.h"
#include "MessageBanners/MaskingView.h"
#include "MessageBanners/MessageView.h"
#include "MessageBanners/PassthroughView.h"
#include "platform/uikit/Archive.h"

namespace MessageBanners {

namespace {

using uikit::ClassRegistry;
using uikit::CGFloat;

void registerBaseView() {
  ClassRegistry::registerClass("MessageBanners.BaseView", "UIView", [] { return BaseView::create(); });
  auto margin = [](const char* name, CGFloat BaseView::*member) {
    ClassRegistry::registerTyped<BaseView, double>("MessageBanners.BaseView", name, uikit::numberFromArchive,
                                                   [member](BaseView& view, const double& value) { view.*member = value; });
  };
  margin("topLayoutMarginAddition", &BaseView::topLayoutMarginAddition);
  margin("leftLayoutMarginAddition", &BaseView::leftLayoutMarginAddition);
  margin("bottomLayoutMarginAddition", &BaseView::bottomLayoutMarginAddition);
  margin("rightLayoutMarginAddition", &BaseView::rightLayoutMarginAddition);
  ClassRegistry::registerTyped<BaseView, bool>(
      "MessageBanners.BaseView", "collapseLayoutMarginAdditions", uikit::boolFromArchive,
      [](BaseView& view, const bool& collapse) { view.setCollapseLayoutMarginAdditions(collapse); });
  ClassRegistry::registerTyped<BaseView, double>(
      "MessageBanners.BaseView", "bounceAnimationOffset", uikit::numberFromArchive,
      [](BaseView& view, const double& offset) { view.setBounceAnimationOffset(offset); });
  ClassRegistry::registerOutlet<BaseView, uikit::UIView>(
      "MessageBanners.BaseView", "backgroundView",
      [](BaseView& view, std::shared_ptr<uikit::UIView> background) { view.setBackgroundView(background); });
}

void registerCornerRoundingView() {
  ClassRegistry::registerClass("MessageBanners.CornerRoundingView", "UIView",
                               [] { return CornerRoundingView::create(); });
  ClassRegistry::registerTyped<CornerRoundingView, double>(
      "MessageBanners.CornerRoundingView", "cornerRadius", uikit::numberFromArchive,
      [](CornerRoundingView& view, const double& radius) { view.setCornerRadius(radius); });
  ClassRegistry::registerTyped<CornerRoundingView, bool>(
      "MessageBanners.CornerRoundingView", "roundsLeadingCorners", uikit::boolFromArchive,
      [](CornerRoundingView& view, const bool& rounds) { view.setRoundsLeadingCorners(rounds); });
}

void registerKeyboardTrackingView() {
  ClassRegistry::registerClass("MessageBanners.KeyboardTrackingView", "UIView",
                               [] { return KeyboardTrackingView::createForArchive(); });
  ClassRegistry::registerTyped<KeyboardTrackingView, double>(
      "MessageBanners.KeyboardTrackingView", "topMargin", uikit::numberFromArchive,
      [](KeyboardTrackingView& view, const double& margin) { view.setTopMargin(margin); });
}

void registerMessageView() {
  const char* cls = "MessageBanners.MessageView";
  ClassRegistry::registerClass(cls, "MessageBanners.BaseView", [] { return MessageView::create(); });
  ClassRegistry::registerOutlet<MessageView, uikit::UILabel>(
      cls, "titleLabel", [](MessageView& v, std::shared_ptr<uikit::UILabel> o) { v.setTitleLabel(std::move(o)); });
  ClassRegistry::registerOutlet<MessageView, uikit::UILabel>(
      cls, "bodyLabel", [](MessageView& v, std::shared_ptr<uikit::UILabel> o) { v.setBodyLabel(std::move(o)); });
  ClassRegistry::registerOutlet<MessageView, uikit::UIImageView>(
      cls, "iconImageView",
      [](MessageView& v, std::shared_ptr<uikit::UIImageView> o) { v.setIconImageView(std::move(o)); });
  ClassRegistry::registerOutlet<MessageView, uikit::UILabel>(
      cls, "iconLabel", [](MessageView& v, std::shared_ptr<uikit::UILabel> o) { v.setIconLabel(std::move(o)); });
  ClassRegistry::registerOutlet<MessageView, uikit::UIButton>(
      cls, "button", [](MessageView& v, std::shared_ptr<uikit::UIButton> o) { v.setButton(std::move(o)); });
}

}  // namespace

void registerArchiveClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    registerBaseView();
    registerCornerRoundingView();
    registerKeyboardTrackingView();
    PassthroughView::registerArchiveClass();
    ClassRegistry::registerClass("MessageBanners.MaskingView", "MessageBanners.PassthroughView",
                                 [] { return MaskingView::create(); });
    registerMessageView();
  });
}

}  // namespace MessageBanners
