#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MessageBanners/BaseView.h"
#include "MessageBanners/Config.h"
#include "MessageBanners/CornerRoundingView.h"
#include "MessageBanners/MessageBanners.h"
#include "MessageBanners/Presenter.h"
#include "platform/uikit/ViewController.h"

namespace MessageBanners {

class MessageBannersSegue;

namespace detail {

/// The presentation and dismissal animations the platform runs for the segue's destination:
/// each waits for the message to finish showing or hiding before it ends the transition.
class SegueTransition : public uikit::UIViewControllerAnimatedTransitioning {
 public:
  SegueTransition(bool presenting, const std::shared_ptr<MessageBannersSegue>& segue)
      : presenting_(presenting), segue_(segue) {}
  double transitionDuration(uikit::UIViewControllerContextTransitioning& context) override;
  void animateTransition(uikit::UIViewControllerContextTransitioning& context) override;
  /// Ends the waiting transition, if one waits.
  std::function<void(bool)> completeTransition;

 private:
  bool presenting_;
  std::weak_ptr<MessageBannersSegue> segue_;
};

}  // namespace detail

/// Presents a whole view controller as a message: the destination's view goes into a message
/// view shown by a queue manager of the segue's own, while the platform sees an ordinary modal
/// presentation. The segue keeps itself alive while its message may be on screen. Main thread.
class MessageBannersSegue : public uikit::UIStoryboardSegue,
                            public uikit::UIViewControllerTransitioningDelegate,
                            public std::enable_shared_from_this<MessageBannersSegue> {
 public:
  enum class Layout { TopMessage, BottomMessage, TopCard, TopTab, BottomCard, BottomTab, Centered };
  /// How the destination's container goes into the message view.
  enum class Containment { Content, Background, BackgroundVertical };

  /// A segue whose messages dim the screen (a tap dismisses) and stay until dismissed.
  static std::shared_ptr<MessageBannersSegue> create(std::string identifier,
                                                     std::shared_ptr<uikit::UIViewController> source,
                                                     std::shared_ptr<uikit::UIViewController> destination);

  bool overrideModalPresentationStyle = true;
  const std::shared_ptr<BaseView>& messageView() const { return messageView_; }
  const std::shared_ptr<CornerRoundingView>& containerView() const { return containerView_; }
  Containment containment = Containment::Content;
  const std::shared_ptr<MessageBanners>& messenger() const { return messenger_; }

  /// The configuration the message will be shown with (the messenger's default one).
  Config config() const { return messenger_->defaultConfig(); }
  void setPresentationStyle(PresentationStyle style);
  void setDuration(Duration duration);
  void setDimMode(DimMode dimMode);
  void setInteractiveHide(bool interactive);
  void setKeyboardTrackingView(std::shared_ptr<KeyboardTrackingView> view);

  /// Styles the message for one of the layouts; call before perform.
  void configure(Layout layout);
  /// Presents the destination over the source through the message.
  void perform();

  std::shared_ptr<uikit::UIViewControllerAnimatedTransitioning> animationControllerForPresentedController(
      uikit::UIViewController& presented, uikit::UIViewController& presenting, uikit::UIViewController& source) override;
  std::shared_ptr<uikit::UIViewControllerAnimatedTransitioning> animationControllerForDismissedController(
      uikit::UIViewController& dismissed) override;

  /// Whether the segue still keeps itself alive.
  bool isRetained() const { return selfRetainer_ != nullptr; }

 private:
  friend class detail::SegueTransition;
  MessageBannersSegue(std::string identifier, std::shared_ptr<uikit::UIViewController> source,
                      std::shared_ptr<uikit::UIViewController> destination);
  void updateConfig(const std::function<void(Config&)>& change);
  const std::shared_ptr<detail::SegueTransition>& hider();
  const std::shared_ptr<Presenter>& presenter();
  void scheduleReleaseCheck();

  std::shared_ptr<BaseView> messageView_ = BaseView::create();
  std::shared_ptr<CornerRoundingView> containerView_ = CornerRoundingView::create();
  std::shared_ptr<MessageBanners> messenger_ = MessageBanners::create();
  std::shared_ptr<MessageBannersSegue> selfRetainer_;
  std::shared_ptr<detail::SegueTransition> hider_;
  /// The presentation animation, kept while it waits for the message to show.
  std::shared_ptr<detail::SegueTransition> presenting_;
  std::shared_ptr<Presenter> presenter_;
};

}  // namespace MessageBanners
