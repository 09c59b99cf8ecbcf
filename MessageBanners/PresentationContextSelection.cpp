#include "MessageBanners/PresentationContextSelection.h"

#include <algorithm>
#include <vector>

#include "MessageBanners/TopBottomAnimation.h"
#include "MessageBanners/WindowViewController.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"

namespace MessageBanners {

using uikit::UINavigationController;
using uikit::UITabBarController;
using uikit::UIViewController;
using ControllerPtr = std::shared_ptr<UIViewController>;

MessageEdge messageEdge(const Config& config) {
  switch (config.presentationStyle.kind()) {
    case PresentationStyle::Kind::Top: return MessageEdge::Top;
    case PresentationStyle::Kind::Bottom: return MessageEdge::Bottom;
    case PresentationStyle::Kind::Center: return MessageEdge::None;
    case PresentationStyle::Kind::Custom:
      if (auto animation = std::dynamic_pointer_cast<TopBottomAnimation>(config.presentationStyle.animator())) {
        return animation->style() == TopBottomAnimation::Style::Top ? MessageEdge::Top : MessageEdge::Bottom;
      }
      return MessageEdge::None;
  }
  return MessageEdge::None;
}

bool mb_isVisible(UIViewController& controller, const uikit::UIView& bar) {
  if (bar.isHidden() || bar.alpha() == 0) return false;
  auto& view = *controller.view();
  return bar.convertRectToView(bar.bounds(), &view).intersects(view.bounds());
}

namespace {

ControllerPtr navigationControllerWithVisibleBar(const ControllerPtr& c) {
  if (!c) return nullptr;
  if (auto presented = c->presentedViewController()) return navigationControllerWithVisibleBar(presented);
  if (auto navigation = std::dynamic_pointer_cast<UINavigationController>(c)) {
    if (mb_isVisible(*navigation, *navigation->navigationBar())) return navigation;
    return navigationControllerWithVisibleBar(navigation->topViewController());
  }
  if (auto tabs = std::dynamic_pointer_cast<UITabBarController>(c)) {
    return navigationControllerWithVisibleBar(tabs->selectedViewController());
  }
  return nullptr;
}

ControllerPtr tabBarControllerWithVisibleBar(const ControllerPtr& c) {
  if (!c) return nullptr;
  if (auto presented = c->presentedViewController()) return tabBarControllerWithVisibleBar(presented);
  if (auto navigation = std::dynamic_pointer_cast<UINavigationController>(c)) {
    return tabBarControllerWithVisibleBar(navigation->topViewController());
  }
  if (auto tabs = std::dynamic_pointer_cast<UITabBarController>(c)) {
    if (mb_isVisible(*tabs, *tabs->tabBar())) return tabs;
    return tabBarControllerWithVisibleBar(tabs->selectedViewController());
  }
  return nullptr;
}

}  // namespace

ControllerPtr mb_selectPresentationContextTopDown(const ControllerPtr& controller, const Config& config) {
  if (auto presented = controller->presentedViewController()) {
    return mb_selectPresentationContextTopDown(presented, config);
  }
  ControllerPtr found;
  switch (messageEdge(config)) {
    case MessageEdge::Top: found = navigationControllerWithVisibleBar(controller); break;
    case MessageEdge::Bottom: found = tabBarControllerWithVisibleBar(controller); break;
    case MessageEdge::None: break;
  }
  if (found) return found;
  return WindowViewController::newInstance(config);
}

ControllerPtr mb_selectPresentationContextBottomUp(const ControllerPtr& controller, const Config& config) {
  auto parent = controller->parentViewController();
  const MessageEdge edge = messageEdge(config);
  if (auto navigation = std::dynamic_pointer_cast<UINavigationController>(parent)) {
    if (edge == MessageEdge::Top && mb_isVisible(*navigation, *navigation->navigationBar())) return navigation;
    return mb_selectPresentationContextBottomUp(navigation, config);
  }
  if (auto tabs = std::dynamic_pointer_cast<UITabBarController>(parent)) {
    if (edge == MessageEdge::Bottom && mb_isVisible(*tabs, *tabs->tabBar())) return tabs;
    return mb_selectPresentationContextBottomUp(tabs, config);
  }
  // A table view scrolls its subviews away, so a message never goes into one.
  if (controller->isViewLoaded() && dynamic_cast<uikit::UITableView*>(controller->view().get())) {
    if (parent) return mb_selectPresentationContextBottomUp(parent, config);
    return WindowViewController::newInstance(config);
  }
  return controller;
}

std::shared_ptr<uikit::UIWindow> mb_keyWindow() {
  auto& application = uikit::UIApplication::shared();
  if (!uikit::UIDevice::current().isAtLeast(13)) return application.keyWindow();
  auto order = [](uikit::UISceneActivationState state) {
    switch (state) {
      case uikit::UISceneActivationState::ForegroundActive: return 1;
      case uikit::UISceneActivationState::ForegroundInactive: return 2;
      case uikit::UISceneActivationState::Background: return 3;
      case uikit::UISceneActivationState::Unattached: return 4;
    }
    return 5;
  };
  auto scenes = application.connectedScenes();
  std::stable_sort(scenes.begin(), scenes.end(),
                   [&](const auto& a, const auto& b) { return order(a->activationState) < order(b->activationState); });
  for (const auto& scene : scenes) {
    for (const auto& window : scene->windows()) {
      if (window->isKeyWindow()) return window;
    }
  }
  return nullptr;
}

}  // namespace MessageBanners
