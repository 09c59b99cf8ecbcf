#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/uikit/ViewController.h"

namespace uikit {

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

}  // namespace uikit
