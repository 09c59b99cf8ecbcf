#pragma once
#include <any>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/ViewController.h"

namespace uikit {

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

}  // namespace uikit
