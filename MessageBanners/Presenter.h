#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "MessageBanners/AnimationContext.h"
#include "MessageBanners/Animator.h"
#include "MessageBanners/Config.h"
#include "MessageBanners/MaskingView.h"
#include "MessageBanners/Weak.h"
#include "platform/foundation/Result.h"

namespace uikit {
class UIView;
class UIViewController;
}  // namespace uikit

namespace MessageBanners {

/// Carries one message view through its time on screen: finds the container, puts a masking
/// view into it, dims the background, lets the animator bring the message in and out, sets up
/// accessibility and tells the configuration's listeners about each step. The queue manager
/// makes one per message and calls show and hide on the main queue; its flags may be read from
/// the manager's own queue.
class Presenter : public std::enable_shared_from_this<Presenter> {
 public:
  /// Where the message goes; both held weakly, so a container that went away installs nothing.
  using PresentationContext = std::variant<Weak<uikit::UIViewController>, Weak<uikit::UIView>>;

  /// Chooses the animator from the style: top and bottom slide, centre pops in and can be
  /// thrown, a custom animator is used as given; the delegate hears all of them.
  static std::shared_ptr<Presenter> create(Config config, std::shared_ptr<uikit::UIView> view,
                                           const std::shared_ptr<PresenterDelegate>& delegate);

  /// The message's identity: an identifiable view's own, else the view's description.
  const std::string& id() const { return id_; }
  const Config& config() const { return config_; }
  const std::shared_ptr<MaskingView>& maskingView() const { return maskingView_; }
  const std::shared_ptr<Animator>& animator() const { return animator_; }
  const std::shared_ptr<uikit::UIView>& view() const { return view_; }
  std::shared_ptr<PresenterDelegate> delegate() const { return delegate_.lock(); }
  const PresentationContext& presentationContext() const { return presentationContext_; }

  bool isHiding() const { return isHiding_; }
  bool installed() const { return installed_; }
  bool interactivelyHidden() const { return interactivelyHidden_; }
  void setInteractivelyHidden(bool hidden) { interactivelyHidden_ = hidden; }
  /// Installed, but the message is in no window any more (its container went away).
  bool isOrphaned() const { return installed_ && !*inWindow_; }
  /// Media time of the show; written and read by the queue manager on its own queue.
  std::optional<double> showDate;

  /// Resolves the container, installs, sends willShow and animates in; `completion` gets
  /// whether the animation completed, and didShow follows only then. Fails, changing nothing,
  /// when an automatic message finds no key window with a root view controller.
  foundation::Result<void> show(std::function<void(bool completed)> completion);
  /// Sends willHide, animates out (or not), uninstalls, calls `completion(true)` and sends
  /// didHide. A second call does nothing, so each message hides once.
  void hide(bool animated, std::function<void(bool completed)> completion);

  /// Changes where the message will go; only before it is handed to a queue.
  void setConfigPresentationContext(::MessageBanners::PresentationContext context) {
    config_.presentationContext = std::move(context);
  }

  foundation::Result<PresentationContext> getPresentationContext();
  void install();
  SafeZoneConflicts safeZoneConflicts() const;

 private:
  Presenter(Config config, std::shared_ptr<uikit::UIView> view, const std::shared_ptr<PresenterDelegate>& delegate);
  void showAnimation(std::function<void(bool)> completion);
  void setupAccessibility();
  void announceAccessibility();
  void showAccessibilityFocus();
  void send(Event::Kind kind);
  void uninstall();
  std::shared_ptr<uikit::UIViewController> contextController() const;

  std::string id_;
  Config config_;
  std::shared_ptr<MaskingView> maskingView_;
  std::shared_ptr<Animator> animator_;
  std::atomic<bool> isHiding_{false};
  std::shared_ptr<uikit::UIView> view_;
  std::weak_ptr<PresenterDelegate> delegate_;
  PresentationContext presentationContext_{Weak<uikit::UIViewController>()};
  std::atomic<bool> installed_{false};
  std::atomic<bool> interactivelyHidden_{false};
  std::shared_ptr<std::atomic<bool>> inWindow_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace MessageBanners
