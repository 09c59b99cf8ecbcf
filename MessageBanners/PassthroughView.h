#pragma once
#include <functional>
#include <memory>

#include "platform/uikit/Control.h"
#include "platform/uikit/Window.h"

namespace MessageBanners {

/// A control whose empty area lets touches through to whatever lies below, unless a tap handler
/// is set: then it catches them and taps run the handler. Its subviews always get their touches.
class PassthroughView : public uikit::UIControl {
 public:
  /// A view with no handler and its own tap action registered for touch-up-inside.
  static std::shared_ptr<PassthroughView> create(const uikit::CGRect& frame = {});
  std::string className() const override { return "MessageBanners.PassthroughView"; }

  /// Lets archives make the view by its qualified class name (the same set-up as create()).
  static void registerArchiveClass();

  std::function<void()> tappedHander;
  void tapped();
  std::shared_ptr<uikit::UIView> hitTest(uikit::CGPoint point) override;

 protected:
  PassthroughView() = default;
  void registerTapAction();
};

/// The window messages are shown in: a touch that would land on the hit-test view's ancestors
/// (the window itself, the controller's view) gives nothing, so it reaches the app's window below.
class PassthroughWindow : public uikit::UIWindow {
 public:
  /// The one way to make one: with a zero frame, holding `hitTestView` weakly.
  static std::shared_ptr<PassthroughWindow> create(const std::shared_ptr<uikit::UIView>& hitTestView);
  std::string className() const override { return "MessageBanners.PassthroughWindow"; }

  std::shared_ptr<uikit::UIView> hitTestView() const { return hitTestView_.lock(); }
  std::shared_ptr<uikit::UIView> hitTest(uikit::CGPoint point) override;

 private:
  std::weak_ptr<uikit::UIView> hitTestView_;
};

}  // namespace MessageBanners
