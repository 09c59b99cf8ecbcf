#include <gtest/gtest.h>

#include "MessageBanners/PresentationContextSelection.h"
#include "MessageBanners/WindowViewController.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "testing/ScopedManualClock.h"

namespace MessageBanners {
namespace {

using uikit::UISceneActivationState;

/// An app window, key, in a foreground scene of 390 x 844.
class WindowContextTests : public ::testing::Test {
 protected:
  void SetUp() override {
    uikit::UIApplication::shared().reset();
    scene_ = uikit::UIWindowScene::create(UISceneActivationState::ForegroundActive, {0, 0, 390, 844});
    uikit::UIApplication::shared().connectScene(scene_);
    appWindow_ = uikit::UIWindow::create({0, 0, 390, 844});
    appWindow_->setWindowScene(scene_);
    appWindow_->makeKeyAndVisible();
  }
  void TearDown() override {
    dispatch::drainMainQueue();
    uikit::UIApplication::shared().reset();
  }
  /// The window root: a navigation controller around a plain controller, laid out.
  std::shared_ptr<uikit::UINavigationController> installNavigation() {
    auto navigation = uikit::UINavigationController::create(std::make_shared<uikit::UIViewController>());
    appWindow_->setRootViewController(navigation);
    appWindow_->layoutIfNeeded();
    return navigation;
  }

  testing_support::ScopedManualClock clock_;
  std::shared_ptr<uikit::UIWindowScene> scene_;
  std::shared_ptr<uikit::UIWindow> appWindow_;
};

TEST_F(WindowContextTests, MessageWindowBecomesKeyOnlyWhenAskedAndGivesKeyStatusBack) {
  struct Case {
    const char* name;
    DimMode dim;
    std::optional<bool> becomeKey;
    bool key;
  };
  const Case cases[] = {
      {"no dim", DimMode::none(), std::nullopt, false},
      {"gray dim", DimMode::gray(true), std::nullopt, true},
      {"blur dim, told not to", DimMode::blur(UIBlurEffectStyle::Dark, 1, false), false, false},
      {"no dim, told to", DimMode::none(), true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Config config;
    config.dimMode = c.dim;
    config.becomeKeyWindow = c.becomeKey;
    auto controller = WindowViewController::newInstance(config);
    auto window = controller->window();
    controller->install();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->isKeyWindow(), c.key);
    EXPECT_EQ(appWindow_->isKeyWindow(), !c.key);
    EXPECT_EQ(window->windowScene(), scene_);
    EXPECT_EQ(window->frame(), (uikit::CGRect{0, 0, 390, 844}));
    controller->uninstall();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(controller->window());
    EXPECT_TRUE(appWindow_->isKeyWindow());
  }
}

TEST_F(WindowContextTests, LevelSceneAndAnswersFollowTheConfiguration) {
  auto other = uikit::UIWindowScene::create(UISceneActivationState::ForegroundActive, {0, 0, 800, 600});
  struct SceneBox : WindowScene {
    std::shared_ptr<uikit::UIWindowScene> scene;
    std::shared_ptr<uikit::UIWindowScene> uiWindowScene() const override { return scene; }
  };
  auto box = std::make_shared<SceneBox>();
  box->scene = other;

  Config config;
  config.presentationContext = PresentationContext::windowScene(box, UIWindowLevelAlert);
  config.prefersStatusBarHidden = true;
  config.preferredStatusBarStyle = UIStatusBarStyle::LightContent;
  config.shouldAutorotate = false;
  auto controller = WindowViewController::newInstance(config);
  EXPECT_EQ(controller->window()->windowLevel(), UIWindowLevelAlert);
  EXPECT_TRUE(controller->prefersStatusBarHidden());
  EXPECT_EQ(controller->preferredStatusBarStyle(), uikit::UIStatusBarStyle::LightContent);
  EXPECT_FALSE(controller->shouldAutorotate());
  controller->install();
  EXPECT_EQ(controller->window()->windowScene(), other);
  EXPECT_EQ(controller->window()->frame(), (uikit::CGRect{0, 0, 800, 600}));
  controller->uninstall();

  Config plain;
  plain.presentationContext = PresentationContext::window(UIWindowLevelStatusBar);
  auto defaults = WindowViewController::newInstance(plain);
  EXPECT_EQ(defaults->window()->windowLevel(), UIWindowLevelStatusBar);
  EXPECT_FALSE(defaults->prefersStatusBarHidden());
  EXPECT_EQ(defaults->preferredStatusBarStyle(), uikit::UIStatusBarStyle::Default);
  EXPECT_TRUE(defaults->shouldAutorotate());
  EXPECT_EQ(WindowViewController::newInstance(Config())->window()->windowLevel(), UIWindowLevelNormal);
}

TEST_F(WindowContextTests, FactorySubclassIsUsedWithItsOwnInstallAndUninstall) {
  struct Custom : WindowViewController {
    explicit Custom(const Config& c) : WindowViewController(c) {}
    void install() override { ++installs; WindowViewController::install(); }
    void uninstall() override { ++uninstalls; WindowViewController::uninstall(); }
    int installs = 0, uninstalls = 0;
  };
  Config config;
  config.windowViewController = [](const Config& c) {
    auto made = std::make_shared<Custom>(c);
    made->setUpWindow();
    return std::shared_ptr<WindowViewController>(made);
  };
  auto controller = WindowViewController::newInstance(config);
  auto custom = std::dynamic_pointer_cast<Custom>(controller);
  ASSERT_TRUE(custom);
  controller->install();
  controller->uninstall();
  EXPECT_EQ(custom->installs, 1);
  EXPECT_EQ(custom->uninstalls, 1);
}

TEST_F(WindowContextTests, TopDownPicksAVisibleNavigationBarElseAMessageWindow) {
  appWindow_->setRootViewController(std::make_shared<uikit::UIViewController>());
  auto modal = uikit::UINavigationController::create(std::make_shared<uikit::UIViewController>());
  appWindow_->rootViewController()->presentViewController(modal, false);
  dispatch::drainMainQueue();
  appWindow_->layoutIfNeeded();
  modal->view()->layoutIfNeeded();
  Config top;
  EXPECT_EQ(mb_selectPresentationContextTopDown(appWindow_->rootViewController(), top), modal);

  struct Case {
    const char* name;
    std::function<void(uikit::UINavigationBar&)> hide;
  };
  const Case cases[] = {
      {"hidden bar", [](uikit::UINavigationBar& bar) { bar.setHidden(true); }},
      {"transparent bar", [](uikit::UINavigationBar& bar) { bar.setAlpha(0); }},
      {"bar scrolled away", [](uikit::UINavigationBar& bar) { bar.setFrame({0, -500, 390, 44}); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto& bar = *modal->navigationBar();
    const auto frame = bar.frame();
    c.hide(bar);
    EXPECT_TRUE(std::dynamic_pointer_cast<WindowViewController>(
        mb_selectPresentationContextTopDown(appWindow_->rootViewController(), top)));
    bar.setHidden(false);
    bar.setAlpha(1);
    bar.setFrame(frame);
  }
  // A bottom message looks for a tab bar, and there is none.
  Config bottom;
  bottom.presentationStyle = PresentationStyle::bottom();
  EXPECT_TRUE(std::dynamic_pointer_cast<WindowViewController>(
      mb_selectPresentationContextTopDown(appWindow_->rootViewController(), bottom)));
}

TEST_F(WindowContextTests, BottomUpSkipsTableViewsAndTucksUnderBars) {
  Config bottom;
  bottom.presentationStyle = PresentationStyle::bottom();
  auto table = std::make_shared<uikit::UIViewController>();
  table->setView(std::make_shared<uikit::UITableView>());
  EXPECT_TRUE(std::dynamic_pointer_cast<WindowViewController>(mb_selectPresentationContextBottomUp(table, bottom)));

  auto navigation = installNavigation();
  auto inner = navigation->topViewController();
  EXPECT_EQ(mb_selectPresentationContextBottomUp(inner, Config()), navigation);
  // Bottom message in a navigation stack without tab bar: the navigation controller itself.
  EXPECT_EQ(mb_selectPresentationContextBottomUp(inner, bottom), navigation);
  auto plain = std::make_shared<uikit::UIViewController>();
  EXPECT_EQ(mb_selectPresentationContextBottomUp(plain, bottom), plain);
}

TEST_F(WindowContextTests, KeyWindowComesFromTheMostActiveSceneThatHasOne) {
  uikit::UIApplication::shared().reset();
  auto background = uikit::UIWindowScene::create(UISceneActivationState::Background);
  auto inactive = uikit::UIWindowScene::create(UISceneActivationState::ForegroundInactive);
  auto& app = uikit::UIApplication::shared();
  app.connectScene(background);
  app.connectScene(inactive);
  auto backgroundKey = uikit::UIWindow::create();
  backgroundKey->setWindowScene(background);
  backgroundKey->makeKeyAndVisible();
  auto plain = uikit::UIWindow::create();
  plain->setWindowScene(inactive);
  plain->setVisible(true);
  EXPECT_EQ(mb_keyWindow(), backgroundKey);
  EXPECT_EQ(mb_keyWindow()->windowScene(), background);
  app.reset();
  EXPECT_EQ(mb_keyWindow(), nullptr);
}

}  // namespace
}  // namespace MessageBanners
