#pragma once
#include <any>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uikit/Application.h"
#include "platform/uikit/Control.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/Object.h"
#include "platform/uikit/TraitCollection.h"
#include "platform/uikit/View.h"

namespace uikit {

class UIViewController;
class UINavigationController;
class UITabBarController;
class UIStoryboard;
class UIBarButtonItem;
class UIButton;
class UILabel;
/// What a size or trait transition animates along with; opaque here.
class UIViewControllerTransitionCoordinator;

enum class UIModalPresentationStyle : int {
  FullScreen = 0, PageSheet = 1, FormSheet = 2, CurrentContext = 3, Custom = 4, OverFullScreen = 5,
  OverCurrentContext = 6, Popover = 7, None = -1, Automatic = -2,
};

/// What a transition animation works with: the container view, the two controllers, and the
/// call that ends the transition.
class UIViewControllerContextTransitioning {
 public:
  virtual ~UIViewControllerContextTransitioning() = default;
  virtual UIView& containerView() = 0;
  /// "from" or "to".
  virtual std::shared_ptr<UIViewController> viewControllerForKey(const std::string& key) const = 0;
  virtual std::shared_ptr<UIView> viewForKey(const std::string& key) const = 0;
  virtual CGRect finalFrameForViewController(const UIViewController& controller) const = 0;
  virtual bool isAnimated() const = 0;
  /// Ends the transition: true completes it, false rolls it back. Only the first call counts.
  virtual void completeTransition(bool didComplete) = 0;
  virtual bool transitionWasCancelled() const = 0;
};
inline constexpr const char* UITransitionContextFromViewControllerKey = "from";
inline constexpr const char* UITransitionContextToViewControllerKey = "to";

/// Animates one presentation or dismissal; must call completeTransition on the context.
class UIViewControllerAnimatedTransitioning {
 public:
  virtual ~UIViewControllerAnimatedTransitioning() = default;
  virtual double transitionDuration(UIViewControllerContextTransitioning& context) = 0;
  virtual void animateTransition(UIViewControllerContextTransitioning& context) = 0;
};

/// Supplies the animators of a controller's presentation and dismissal (none: the default).
class UIViewControllerTransitioningDelegate {
 public:
  virtual ~UIViewControllerTransitioningDelegate() = default;
  virtual std::shared_ptr<UIViewControllerAnimatedTransitioning> animationControllerForPresentedController(
      UIViewController& /*presented*/, UIViewController& /*presenting*/, UIViewController& /*source*/) {
    return nullptr;
  }
  virtual std::shared_ptr<UIViewControllerAnimatedTransitioning> animationControllerForDismissedController(
      UIViewController& /*dismissed*/) {
    return nullptr;
  }
};

/// The title and bar items a controller shows in a navigation bar.
struct UINavigationItem {
  std::string title;
  std::vector<std::shared_ptr<UIBarButtonItem>> leftBarButtonItems;
  std::vector<std::shared_ptr<UIBarButtonItem>> rightBarButtonItems;
  bool hidesBackButton = false;
};

/// A controller of one screen: its view (made on first use, then viewDidLoad), the appearance
/// callbacks, child controllers and the chain of presented controllers.
///
/// The toolkit sends the load and lifecycle callbacks through the method table ("loadView",
/// "viewDidLoad", "viewWillAppear:", "viewDidAppear:", "viewWillDisappear:", "viewDidDisappear:",
/// "viewWillLayoutSubviews", "viewDidLayoutSubviews"), so they can be replaced per class at run
/// time; the toolkit's implementations call the C++ virtual functions below, so a subclass
/// overrides them in C++ as usual. A subclass registers itself as a runtime class with
/// RUNTIME_CLASS in its .cpp file, so that it is told apart from the toolkit's classes.
class UIViewController : public NSObject, public std::enable_shared_from_this<UIViewController> {
 public:
  UIViewController() = default;
  ~UIViewController() override;
  UIViewController(const UIViewController&) = delete;
  UIViewController& operator=(const UIViewController&) = delete;
  std::string className() const override { return "UIViewController"; }

  /// The view; the first call loads it (loadView, then viewDidLoad).
  const std::shared_ptr<UIView>& view();
  bool isViewLoaded() const { return view_ != nullptr; }
  /// The view, or null when it is not loaded (asking for it never loads it).
  const std::shared_ptr<UIView>& viewIfLoaded() const { return view_; }
  /// Sets the view, without viewDidLoad.
  void setView(std::shared_ptr<UIView> view);
  /// Makes the view; the default is a plain view the size of the screen.
  virtual void loadView();
  /// Keeps the view an archive made for the controller; the first view() installs it through
  /// loadView and runs viewDidLoad, as with any other view.
  void setViewFromArchive(std::shared_ptr<UIView> view) { archivedView_ = std::move(view); }
  /// The archived view while it waits to be loaded, else the loaded view; null when neither.
  std::shared_ptr<UIView> viewIfArchivedOrLoaded() const { return view_ ? view_ : archivedView_; }
  virtual void viewDidLoad() {}
  virtual void viewWillAppear(bool /*animated*/) {}
  virtual void viewDidAppear(bool /*animated*/) {}
  virtual void viewWillDisappear(bool /*animated*/) {}
  virtual void viewDidDisappear(bool /*animated*/) {}
  /// Around each layout of the controller's view.
  virtual void viewWillLayoutSubviews() {}
  virtual void viewDidLayoutSubviews() {}
  virtual void willMoveToParentViewController(UIViewController* /*parent*/) {}
  virtual void didMoveToParentViewController(UIViewController* /*parent*/) {}
  /// The view is about to change to `size` (a rotation or a window resize), or the traits the
  /// controller sees are about to change. Both hand the news on to the child controllers; an
  /// override calls the base first. The coordinator may be null.
  virtual void viewWillTransitionToSize(CGSize size, UIViewControllerTransitionCoordinator* coordinator);
  virtual void willTransitionToTraitCollection(const UITraitCollection& traits,
                                               UIViewControllerTransitionCoordinator* coordinator);
  /// Called before a segue from this controller runs.
  virtual void prepareForSegue(class UIStoryboardSegue& /*segue*/) {}

  // Containment.
  std::shared_ptr<UIViewController> parentViewController() const { return parent_.lock(); }
  const std::vector<std::shared_ptr<UIViewController>>& childViewControllers() const { return children_; }
  /// Adds a child (willMoveToParentViewController is called; the caller adds the view and calls
  /// didMoveToParentViewController, as on the platform).
  void addChildViewController(const std::shared_ptr<UIViewController>& child);
  void removeFromParentViewController();

  // Presentation.
  std::shared_ptr<UIViewController> presentedViewController() const { return presented_; }
  std::shared_ptr<UIViewController> presentingViewController() const { return presenting_.lock(); }
  /// True while the controller is being presented: from the start of its presentation until its
  /// viewDidAppear has run.
  bool isBeingPresented() const { return beingPresented_; }
  UIModalPresentationStyle modalPresentationStyle = UIModalPresentationStyle::Automatic;
  /// Held weakly, as the platform does.
  std::weak_ptr<UIViewControllerTransitioningDelegate> transitioningDelegate;
  /// Presents `controller` over this one. An animated presentation without a custom animator
  /// takes 0.3 s of the clock; with one, it ends when the animator completes the transition.
  /// Presenting while another presentation is there or under way does nothing (logged).
  void presentViewController(const std::shared_ptr<UIViewController>& controller, bool animated,
                             std::function<void()> completion = {});
  /// Dismisses the controller this one presented, or this one when it was presented.
  void dismissViewControllerAnimated(bool animated, std::function<void()> completion = {});
  /// The style in effect: Automatic is a page sheet from system 13, else full screen.
  UIModalPresentationStyle effectivePresentationStyle() const;

  // Navigation and tabs.
  UINavigationController* navigationController() const;
  UITabBarController* tabBarController() const;
  UINavigationItem navigationItem;
  std::string title;
  CGSize preferredContentSize;
  std::shared_ptr<UIStoryboard> storyboard;

  // Status bar and rotation queries.
  virtual UIStatusBarStyle preferredStatusBarStyle() const { return UIStatusBarStyle::Default; }
  virtual bool prefersStatusBarHidden() const { return false; }
  virtual bool shouldAutorotate() const { return true; }
  /// The escape gesture (the Escape key on the desktop): a controller that can be left this way
  /// (an alert with a cancel action, a system sheet) closes itself and returns true.
  virtual bool accessibilityPerformEscape() { return false; }
  /// The controller whose status-bar answers count instead of this one's (none: this one).
  virtual UIViewController* childViewControllerForStatusBarStyle() const { return nullptr; }
  void setNeedsStatusBarAppearanceUpdate();

  /// Whether the view is appearing or has appeared (for the callbacks' bookkeeping).
  bool isAppeared() const { return appearance_ == Appearance::Appeared || appearance_ == Appearance::Appearing; }

  // For containers and the presentation machinery: run the callbacks once each, forwarded to
  // the children whose views are inside this one's.
  void beginAppearanceTransition(bool appearing, bool animated);
  void endAppearanceTransition();

 protected:
  friend class UINavigationController;
  friend class UITabBarController;
  std::weak_ptr<UIViewController> parent_;

 private:
  friend class PresentationTransition;
  friend class UIView;
  enum class Appearance { Disappeared, Appearing, Appeared, Disappearing };
  /// Sends "viewWillLayoutSubviews" (or, with `did`, "viewDidLayoutSubviews") to `controller`.
  static void sendLayoutCallback(UIViewController& controller, bool did);

  std::shared_ptr<UIView> view_;
  std::shared_ptr<UIView> archivedView_;
  std::vector<std::shared_ptr<UIViewController>> children_;
  std::shared_ptr<UIViewController> presented_;
  std::weak_ptr<UIViewController> presenting_;
  std::shared_ptr<class PresentationTransition> transition_;
  std::shared_ptr<class PresentationTransition> finishedTransition_;
  Appearance appearance_ = Appearance::Disappeared;
  bool transitionAnimated_ = false;
  bool beingPresented_ = false;
};

/// An item of a navigation or tool bar: a title or image and a target-action.
class UIBarButtonItem : public NSObject, public std::enable_shared_from_this<UIBarButtonItem> {
 public:
  std::string className() const override { return "UIBarButtonItem"; }
  std::string title;
  std::shared_ptr<UIImage> image;
  bool enabled = true;
  std::string accessibilityLabel;
  std::string accessibilityValue;
  /// Called when the item is tapped (only while enabled), through the application's sendAction
  /// with `selector`, `target` and the item as the sender.
  std::function<void(UIBarButtonItem&)> action;
  std::weak_ptr<runtime::Object> target;
  std::string selector;
  void tap();
};

/// A transition between two controllers of a storyboard, named by its identifier.
class UIStoryboardSegue {
 public:
  UIStoryboardSegue(std::string identifier, std::shared_ptr<UIViewController> source,
                    std::shared_ptr<UIViewController> destination, std::string kind)
      : identifier_(std::move(identifier)), source_(std::move(source)), destination_(std::move(destination)),
        kind_(std::move(kind)) {}
  const std::string& identifier() const { return identifier_; }
  const std::shared_ptr<UIViewController>& sourceViewController() const { return source_; }
  const std::shared_ptr<UIViewController>& destinationViewController() const { return destination_; }
  /// "push" (onto the source's navigation controller, else presented) or "present".
  const std::string& kind() const { return kind_; }
  void perform();

 private:
  std::string identifier_;
  std::shared_ptr<UIViewController> source_;
  std::shared_ptr<UIViewController> destination_;
  std::string kind_;
};

}  // namespace uikit
