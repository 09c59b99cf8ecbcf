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

/// One look of a navigation bar.
struct UINavigationBarAppearance {
  bool opaqueBackground = false;
  std::optional<UIColor> backgroundColor;
  /// Attribute name to value (a UIColor for NSForegroundColorAttributeName, a UIFont for the font).
  std::map<std::string, std::any> titleTextAttributes;
  void configureWithOpaqueBackground() {
    opaqueBackground = true;
    backgroundColor = UIColor::whiteColor();
  }
};
inline constexpr const char* NSForegroundColorAttributeName = "NSColor";
inline constexpr const char* NSFontAttributeName = "NSFont";

/// The bar at the top of a navigation controller: 44 points high, just below the top safe inset.
class UINavigationBar : public UIView {
 public:
  std::string className() const override { return "UINavigationBar"; }
  std::optional<UINavigationBarAppearance> standardAppearance;
  std::optional<UINavigationBarAppearance> scrollEdgeAppearance;
  std::optional<UINavigationBarAppearance> compactAppearance;
  std::optional<UINavigationBarAppearance> compactScrollEdgeAppearance;
  std::optional<UIColor> barTintColor;
  /// The items of the controllers on the stack, bottom to top.
  std::vector<const UINavigationItem*> items;

  /// Shows the top item as subviews: its title in a centred label, its left items (or a back
  /// button when there is a controller to go back to) and its right items as buttons that call
  /// the item's action on touch-up-inside. Views are made again only when the items changed;
  /// items may be set at any time, so this runs on every layout and before a touch is hit-tested.
  void updateItems();
  /// The label of the title (made on first use).
  const std::shared_ptr<UILabel>& titleLabel();
  /// The button showing `item`, or null when the top item does not show it.
  std::shared_ptr<UIButton> buttonForItem(const UIBarButtonItem& item) const;
  /// The back button, or null when none is shown.
  std::shared_ptr<UIButton> backButton() const { return back_; }

  void layoutSubviews() override;
  std::shared_ptr<UIView> hitTest(CGPoint point) override;

 private:
  friend class UINavigationController;
  struct Shown {
    std::shared_ptr<UIBarButtonItem> item;  // null for the back button
    std::string title;
    std::shared_ptr<UIImage> image;
    bool left = true;
    friend bool operator==(const Shown&, const Shown&) = default;
  };
  std::shared_ptr<UIButton> makeButton(const Shown& shown);
  void placeItems();
  std::weak_ptr<UIViewController> controller_;
  std::shared_ptr<UILabel> titleLabel_;
  std::vector<Shown> shown_;
  std::vector<std::shared_ptr<UIButton>> buttons_;
  std::shared_ptr<UIButton> back_;
};

/// A stack of controllers with a bar on top; the top one's view fills the space below the bar.
class UINavigationController : public UIViewController {
 public:
  UINavigationController();
  static std::shared_ptr<UINavigationController> create(std::shared_ptr<UIViewController> root = nullptr);
  std::string className() const override { return "UINavigationController"; }

  const std::vector<std::shared_ptr<UIViewController>>& viewControllers() const { return stack_; }
  void setViewControllers(std::vector<std::shared_ptr<UIViewController>> controllers, bool animated);
  std::shared_ptr<UIViewController> topViewController() const {
    return stack_.empty() ? nullptr : stack_.back();
  }
  /// Pushes `controller`: the old top gets will/did-disappear, the new one will/did-appear, the
  /// did-callbacks after 0.3 s when animated.
  void pushViewController(const std::shared_ptr<UIViewController>& controller, bool animated);
  std::shared_ptr<UIViewController> popViewControllerAnimated(bool animated);
  std::vector<std::shared_ptr<UIViewController>> popToRootViewControllerAnimated(bool animated);
  const std::shared_ptr<UINavigationBar>& navigationBar();
  bool isNavigationBarHidden() const;
  void setNavigationBarHidden(bool hidden, bool animated);

  void viewDidLoad() override;
  UIViewController* childViewControllerForStatusBarStyle() const override;

 private:
  void transition(const std::shared_ptr<UIViewController>& from, const std::shared_ptr<UIViewController>& to,
                  bool animated);
  void layoutBar();
  CGRect contentFrame();
  std::vector<std::shared_ptr<UIViewController>> stack_;
  std::shared_ptr<UINavigationBar> bar_;
};

/// The bar of a tab bar controller: 49 points plus the bottom safe inset, at the bottom.
class UITabBar : public UIView {
 public:
  std::string className() const override { return "UITabBar"; }
};

/// Switches between child controllers, one shown at a time above the tab bar.
class UITabBarController : public UIViewController {
 public:
  static std::shared_ptr<UITabBarController> create();
  std::string className() const override { return "UITabBarController"; }
  const std::vector<std::shared_ptr<UIViewController>>& viewControllers() const { return tabs_; }
  void setViewControllers(std::vector<std::shared_ptr<UIViewController>> controllers);
  std::shared_ptr<UIViewController> selectedViewController() const;
  std::size_t selectedIndex() const { return selected_; }
  void setSelectedIndex(std::size_t index);
  const std::shared_ptr<UITabBar>& tabBar();
  void viewDidLoad() override;

 private:
  void layoutBar();
  std::vector<std::shared_ptr<UIViewController>> tabs_;
  std::size_t selected_ = 0;
  std::shared_ptr<UITabBar> bar_;
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
