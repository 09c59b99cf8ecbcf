#include <gtest/gtest.h>

#include "MessageBanners/Config.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Window.h"

namespace MessageBanners {
namespace {

class ConfigTests : public ::testing::Test {
 protected:
  void SetUp() override { uikit::UIApplication::shared().reset(); }
  void TearDown() override { uikit::UIApplication::shared().reset(); }
};

/// A platform scene stand-in compared by identity only (never dereferenced): the scene type is
/// the toolkit's, which these tests do not need to build.
std::shared_ptr<uikit::UIWindowScene> fakeScene(const std::shared_ptr<int>& anchor) {
  return std::shared_ptr<uikit::UIWindowScene>(anchor, reinterpret_cast<uikit::UIWindowScene*>(anchor.get()));
}

class PlatformScene : public WindowScene {
 public:
  explicit PlatformScene(std::shared_ptr<uikit::UIWindowScene> scene) : scene_(std::move(scene)) {}
  std::shared_ptr<uikit::UIWindowScene> uiWindowScene() const override { return scene_; }

 private:
  std::shared_ptr<uikit::UIWindowScene> scene_;
};

TEST_F(ConfigTests, DefaultsOfEveryField) {
  Config config;
  EXPECT_EQ(config.presentationStyle.kind(), PresentationStyle::Kind::Top);
  EXPECT_EQ(config.presentationContext.kind(), PresentationContext::Kind::Automatic);
  EXPECT_EQ(config.duration.kind(), Duration::Kind::Automatic);
  EXPECT_EQ(config.dimMode.kind(), DimMode::Kind::None);
  EXPECT_TRUE(config.interactiveHide);
  EXPECT_EQ(config.preferredStatusBarStyle, std::nullopt);
  EXPECT_EQ(config.prefersStatusBarHidden, std::nullopt);
  EXPECT_TRUE(config.shouldAutorotate);
  EXPECT_TRUE(config.ignoreDuplicates);
  EXPECT_TRUE(config.eventListeners.empty());
  EXPECT_EQ(config.becomeKeyWindow, std::nullopt);
  EXPECT_EQ(config.dimModeAccessibilityLabel, "dismiss");
  EXPECT_EQ(config.overrideUserInterfaceStyleRawValue, std::nullopt);
  EXPECT_FALSE(config.windowViewController);
  EXPECT_EQ(config.keyboardTrackingView, nullptr);
}

TEST_F(ConfigTests, ShouldBecomeKeyWindowFollowsDimModeUnlessSet) {
  struct Case {
    const char* name;
    DimMode dim;
    std::optional<bool> become;
    bool expected;
  } cases[] = {
      {"defaults", DimMode::none(), std::nullopt, false},
      {"gray", DimMode::gray(false), std::nullopt, true},
      {"color", DimMode::color(uikit::UIColor::blackColor(), true), std::nullopt, true},
      {"blur", DimMode::blur(UIBlurEffectStyle::Dark, 0.5, false), std::nullopt, true},
      {"gray but set false", DimMode::gray(true), false, false},
      {"none but set true", DimMode::none(), true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Config config;
    config.dimMode = c.dim;
    config.becomeKeyWindow = c.become;
    EXPECT_EQ(config.shouldBecomeKeyWindow(), c.expected);
  }
}

TEST_F(ConfigTests, DimModeFlags) {
  EXPECT_FALSE(DimMode::none().interactive());
  EXPECT_FALSE(DimMode::none().modal());
  EXPECT_TRUE(DimMode::blur(UIBlurEffectStyle::Light, 0.8, true).interactive());
  EXPECT_TRUE(DimMode::gray(false).modal());
  EXPECT_FALSE(DimMode::gray(false).interactive());
}

TEST_F(ConfigTests, OverrideUserInterfaceStyleThroughRawValue) {
  Config config;
  EXPECT_EQ(config.overrideUserInterfaceStyle(), uikit::UIUserInterfaceStyle::Unspecified);
  config.setOverrideUserInterfaceStyle(uikit::UIUserInterfaceStyle::Dark);
  EXPECT_EQ(config.overrideUserInterfaceStyle(), uikit::UIUserInterfaceStyle::Dark);
  EXPECT_EQ(config.overrideUserInterfaceStyleRawValue, 2);
}

TEST_F(ConfigTests, WindowSceneOfSceneContextElseOfKeyWindow) {
  auto anchorA = std::make_shared<int>(1);
  auto sceneA = fakeScene(anchorA);
  // The app's key window, in a foreground scene of its own.
  auto keyScene = uikit::UIWindowScene::create(uikit::UISceneActivationState::ForegroundActive, {0, 0, 390, 844});
  uikit::UIApplication::shared().connectScene(keyScene);
  auto keyWindow = uikit::UIWindow::create({0, 0, 390, 844});
  keyWindow->setWindowScene(keyScene);
  keyWindow->makeKeyAndVisible();

  Config config;
  config.presentationContext = PresentationContext::windowScene(std::make_shared<PlatformScene>(sceneA), 5);
  EXPECT_EQ(config.windowScene(), sceneA);
  EXPECT_EQ(config.presentationContext.windowLevel(), 5);
  // A scene of another kind gives none, not the key window's.
  config.presentationContext = PresentationContext::windowScene(std::make_shared<WindowScene>(), 5);
  EXPECT_EQ(config.windowScene(), nullptr);
  for (auto context : {PresentationContext::automatic(), PresentationContext::window(UIWindowLevelStatusBar)}) {
    config.presentationContext = context;
    EXPECT_EQ(config.windowScene(), keyScene);
  }
  keyWindow->setWindowScene(nullptr);
  EXPECT_EQ(config.windowScene(), nullptr);
}

}  // namespace
}  // namespace MessageBanners
