#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "MessageBanners/Archiving.h"
#include "app/screens/ActivityIndicatorButton.h"
#include "app/screens/StyledControls.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/Bundle.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Archive.h"
#include "platform/uikit/EventDriver.h"
#include "platform/uikit/NavigationController.h"
#include "testing/ScopedManualClock.h"
#include "testing/TemporaryFolder.h"

namespace fendrel {
namespace {

using namespace uikit;

class StyledControlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { registerScreenArchiveClasses(); }
  void SetUp() override {
    UIApplication::shared().reset();
    std::filesystem::create_directories(folder.file("App.app"));
    std::ofstream(folder.file("App.app/Info.json")) << "{}";
    foundation::Bundle::setMainBundleName(folder.file("App.app"));
    foundation::Bundle::resetMain();
  }
  void TearDown() override {
    UIApplication::shared().reset();
    UIDevice::current().systemVersion = "17.0";
    foundation::Bundle::setMainBundleName("");
    foundation::Bundle::resetMain();
  }
  foundation::Result<std::vector<std::shared_ptr<NSObject>>> loadNib(const std::string& text) {
    std::ofstream(folder.file("App.app/Styled.nib")) << text;
    return loadNibNamed("Styled", nullptr);
  }

  testing_support::ScopedManualClock clock;
  testing_support::TemporaryFolder folder{"screens"};
};

TEST_F(StyledControlsTest, AppGlobals) {
  EXPECT_EQ(accentColor(), (UIColor{1.0, 0.2196078431372549, 0.1411764705882353, 1.0}));
  EXPECT_EQ(&accentColor(), &accentColor());
  // The main bundle here has no "InfoPlist" strings: the default name.
  EXPECT_EQ(appName(), "Sky Vane");
}

TEST_F(StyledControlsTest, RateButtonsTakeTheirFirstTintOnly) {
  auto objects = loadNib(R"({"objects": [
    {"class": "RateButton", "properties": {"frame": [0, 0, 120, 36], "tintColor": "#0000FF"}},
    {"class": "RateInvertedButton", "properties": {"frame": [0, 0, 120, 36], "tintColor": "#00FF00"}},
    {"class": "IconImageView", "properties": {"frame": [0, 0, 60, 60]}}]})");
  ASSERT_TRUE(objects.ok()) << objects.error().localizedDescription();
  auto rate = std::dynamic_pointer_cast<RateButton>((*objects)[0]);
  auto inverted = std::dynamic_pointer_cast<RateInvertedButton>((*objects)[1]);
  auto icon = std::dynamic_pointer_cast<IconImageView>((*objects)[2]);
  ASSERT_TRUE(rate && inverted && icon);
  for (RateButton* b : {rate.get(), static_cast<RateButton*>(inverted.get())}) {
    EXPECT_EQ(b->layer()->cornerRadius(), 7.5);
    EXPECT_EQ(b->layer()->borderWidth(), 1.0);
  }
  EXPECT_EQ(icon->layer()->cornerRadius(), 12.0);
  EXPECT_TRUE(icon->clipsToBounds());

  rate->layoutSubviews();
  inverted->layoutSubviews();
  EXPECT_EQ(rate->layer()->borderColor(), (UIColor{0, 0, 1, 1}));
  EXPECT_EQ(inverted->layer()->borderColor(), (UIColor{0, 1, 0, 1}));
  EXPECT_EQ(inverted->layer()->backgroundColor(), (UIColor{0, 1, 0, 1}));
  EXPECT_EQ(inverted->tintColor(), UIColor::whiteColor());

  // Later tint changes leave the first colours.
  rate->setTintColor(UIColor::redColor());
  inverted->setTintColor(UIColor::redColor());
  rate->layoutSubviews();
  inverted->layoutSubviews();
  EXPECT_EQ(rate->layer()->borderColor(), (UIColor{0, 0, 1, 1}));
  EXPECT_EQ(inverted->layer()->backgroundColor(), (UIColor{0, 1, 0, 1}));
  EXPECT_EQ(inverted->layer()->borderColor(), (UIColor{0, 1, 0, 1}));
}

TEST_F(StyledControlsTest, NavigationBarStyleFollowsTheSystemVersion) {
  struct Case {
    const char* version;
    bool appearance;
    bool compactScrollEdge;
  } cases[] = {{"12.4", false, false}, {"13.0", true, false}, {"15.0", true, true}};
  for (const auto& c : cases) {
    UIDevice::current().systemVersion = c.version;
    auto nav = NavigationController::create(std::make_shared<UIViewController>());
    nav->view();
    auto& bar = nav->navigationBar();
    EXPECT_EQ(bar->tintColor(), UIColor::whiteColor()) << c.version;
    EXPECT_EQ(bar->standardAppearance.has_value(), c.appearance) << c.version;
    EXPECT_EQ(bar->scrollEdgeAppearance.has_value(), c.appearance) << c.version;
    EXPECT_EQ(bar->compactAppearance.has_value(), c.appearance) << c.version;
    EXPECT_EQ(bar->compactScrollEdgeAppearance.has_value(), c.compactScrollEdge) << c.version;
    if (c.appearance) {
      EXPECT_TRUE(bar->standardAppearance->opaqueBackground);
      EXPECT_EQ(bar->standardAppearance->backgroundColor, accentColor());
      EXPECT_EQ(std::any_cast<UIColor>(bar->standardAppearance->titleTextAttributes.at(NSForegroundColorAttributeName)),
                UIColor::whiteColor());
    }
    EXPECT_EQ(nav->preferredStatusBarStyle(), UIStatusBarStyle::LightContent);
  }
  // The status bar the application shows follows the key window's navigation controller.
  auto window = UIWindow::create({0, 0, 390, 844});
  window->setRootViewController(NavigationController::create(std::make_shared<UIViewController>()));
  window->makeKeyAndVisible();
  EXPECT_EQ(UIApplication::shared().statusBarStyle(), UIStatusBarStyle::LightContent);
}

TEST_F(StyledControlsTest, ActivityButtonFromAStoryboardAndRealTouches) {
  std::ofstream(folder.file("App.app/download.png")) << "";
  auto objects = loadNib(R"({"objects": [{"class": "ActivityIndicatorButton", "properties": {
      "frame": [100, 100, 44, 44], "normalTrackColor": "#112233", "progressBarWidth": 4, "trackWidth": 2,
      "hitAnimationDistance": 8, "image": "download"}}]})");
  ASSERT_TRUE(objects.ok()) << objects.error().localizedDescription();
  auto button = std::dynamic_pointer_cast<ActivityIndicatorButton>((*objects)[0]);
  ASSERT_TRUE(button);
  EXPECT_EQ(button->normalTrackColor(), (UIColor{0x11 / 255.0, 0x22 / 255.0, 0x33 / 255.0, 1}));
  EXPECT_EQ(button->progressBarWidth(), 4);
  EXPECT_EQ(button->trackWidth(), 2);
  EXPECT_EQ(button->hitAnimationDistance, 8);
  ASSERT_TRUE(button->image());
  EXPECT_EQ(button->image()->name(), "download");
  EXPECT_EQ(button->actionsForTarget(button.get(), UIControlEventTouchUpInside),
            std::vector<std::string>{"handleTouchUp:"});

  auto window = UIWindow::create({0, 0, 390, 844});
  window->addSubview(button);
  window->makeKeyAndVisible();
  auto ripples = [&] {
    int n = 0;
    for (auto& l : button->layer()->sublayers()) n += l->animationForKey("ripple") != nullptr;
    return n;
  };
  auto& driver = UIEventDriver::shared();
  driver.touchDown({122, 122});
  EXPECT_EQ(ripples(), 1);
  driver.touchMove({300, 600});
  driver.touchUp({300, 600});
  EXPECT_EQ(ripples(), 1) << "a touch that leaves the button plays no touch-up";
  EXPECT_NE(button->layer()->transform(), CATransform3D::identity()) << "the press stays";

  driver.tap({122, 122});
  EXPECT_EQ(ripples(), 3);
  EXPECT_EQ(button->layer()->transform(), CATransform3D::identity());
}

TEST_F(StyledControlsTest, EveryArchiveOfTheResourcesLoads) {
  // The banner library's layouts are among the resources.
  MessageBanners::registerArchiveClasses();
  auto count = validateArchives(FENDREL_TEST_RESOURCES);
  ASSERT_TRUE(count.ok()) << count.error().localizedDescription();
}

}  // namespace
}  // namespace fendrel
