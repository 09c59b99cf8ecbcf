#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "MessageBanners/MessageBanners.h"
#include "MessageBanners/MessageView.h"
#include "TovelCommon/CloudConfig.h"
#include "TovelCommon/GlobalProgressBar.h"
#include "app/core/SettingsKeys.h"
#include "app/screens/FirstViewController.h"
#include "app/screens/StyledControls.h"
#include "app/screens/tests/BannerSteps.h"
#include "app/screens/tests/ScreensTestSupport.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/uikit/FontTextMeasurer.h"
#include "platform/uikit/Renderer.h"
#include "platform/uikit/TextMeasurer.h"
#include "platform/uikit/Window.h"

namespace fendrel {
namespace {

using foundation::Array;
using foundation::Dictionary;

/// The configuration host of every test here: the configuration's hosts are read once per process.
test_support::LoopbackServer& configHost() {
  static test_support::LoopbackServer* host = [] {
    auto* made = new test_support::LoopbackServer();
    const std::string base = made->url("/");
    ::setenv("FENDREL_CONFIG_BASES", base.c_str(), 1);
    return made;
  }();
  return *host;
}

/// Every window of the app drawn bottom first at its place on the screen, so a banner's window
/// shows over the screen below it, written as a PNG file.
void writeScreenPNG(const std::string& path, double scale) {
  const auto screen = uikit::UIScreen::main().bounds();
  auto out = std::make_shared<uikit::CGImage>();
  out->width = static_cast<int>(screen.size.width * scale);
  out->height = static_cast<int>(screen.size.height * scale);
  out->pixels.assign(static_cast<std::size_t>(out->width) * out->height, 0xff000000u);
  for (const auto& window : uikit::UIApplication::shared().windows()) {
    window->layoutIfNeeded();
    auto image = uikit::Renderer::renderView(*window, scale);
    ASSERT_TRUE(image);
    const auto bitmap = (*image)->cgImage();
    ASSERT_TRUE(bitmap && bitmap->isValid());
    const int dx = static_cast<int>(window->frame().origin.x * scale);
    const int dy = static_cast<int>(window->frame().origin.y * scale);
    for (int y = 0; y < bitmap->height; ++y) {
      for (int x = 0; x < bitmap->width; ++x) {
        const int ox = x + dx, oy = y + dy;
        if (ox < 0 || oy < 0 || ox >= out->width || oy >= out->height) continue;
        // Premultiplied "over": each channel is the source plus what the source lets through.
        const std::uint32_t src = bitmap->pixel(x, y);
        std::uint32_t& dst = out->pixels[static_cast<std::size_t>(oy) * out->width + ox];
        const std::uint32_t through = 255 - (src >> 24);
        std::uint32_t blended = 0;
        for (int shift = 0; shift < 32; shift += 8) {
          const std::uint32_t channel = ((src >> shift) & 0xff) + (((dst >> shift) & 0xff) * through + 127) / 255;
          blended |= std::min<std::uint32_t>(channel, 255) << shift;
        }
        dst = blended;
      }
    }
  }
  auto png = uikit::UIImagePNGRepresentation(*uikit::UIImage::createWithCGImage(out, scale));
  ASSERT_TRUE(png);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << png->bytes();
}

class MainScreenTests : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& host = configHost();
    auto defs = Singleton::shared().userDefs();
    ASSERT_TRUE(defs->setInteger(settings::kLaunchCountKey, 7));
    ASSERT_TRUE(defs->setBool("tutorialShown", true));
    // "a" is downloaded already; "b" is not and its download fails.
    std::filesystem::create_directories(device_.cachesPath());
    std::ofstream(device_.cachesPath() + "/1600000000a.json") << "[]";
    const Dictionary config{
        {"lists", Array{test_support::listDictionary("a", host.url("/a.json"), 1600000000.0),
                        test_support::listDictionary("b", host.url("/b.json"), 1700000000.0)}},
        {"apps", Array{Dictionary{{"name", "Other App"}, {"modifiedAt", 1.0}, {"iconUrl", "icons/app.png"},
                                  {"objectId", "app-1"}, {"iTunesId", "42"}}}}};
    const std::string body = *foundation::JSONSerialization::dataWithJSONObject(foundation::Value(config));
    host.setHandler([this, body](const httplib::Request& request, httplib::Response& response) {
      if (request.path != std::string("/") + Singleton::kConfigPath) {
        response.status = 404;
        return;
      }
      std::unique_lock lock(mutex_);
      released_.wait(lock, [this] { return release_; });
      response.set_content(body, "application/json");
    });
    Singleton::shared().setCloudConfig(tovel::CloudConfig::create(
        Singleton::kConfigPath, defs, state_.analytics, dispatch::DispatchQueue::main(), tovel::ShuffleURLs::No, {}));
    setExtensionDisabledBannerPresenter([this](std::function<void()> openTutorial) {
      ++banners_;
      openTutorial_ = std::move(openTutorial);
    });

    screen_ = screens_.instantiate<FirstViewController>("Main", "FirstViewController");
    ASSERT_TRUE(screen_);
    window_ = uikit::UIWindow::create(uikit::UIScreen::main().bounds());
    navigation_ = NavigationController::create(screen_);
    window_->setRootViewController(navigation_);
    window_->makeKeyAndVisible();
    table_ = screen_->tableView.lock();
    ASSERT_TRUE(table_);
  }
  void TearDown() override {
    releaseConfig();
    setExtensionDisabledBannerPresenter({});
    configHost().setHandler({});
    uikit::ContentBlockerState::reset();
  }
  void releaseConfig() {
    std::lock_guard lock(mutex_);
    release_ = true;
    released_.notify_all();
  }
  void settle() {
    clock_->advance(1.0);
    dispatch::drainMainQueue();
    table_->layoutIfNeeded();
  }
  std::shared_ptr<ListCell> listCell(long row) {
    return std::dynamic_pointer_cast<ListCell>(table_->cellForRowAtIndexPath({0, row}));
  }

  test_support::ScopedManualClock clock_;
  test_support::ScopedDeviceRoot device_;
  test_support::ScopedAppState state_;
  test_support::ScopedScreens screens_;
  std::mutex mutex_;
  std::condition_variable released_;
  bool release_ = false;
  int banners_ = 0;
  std::function<void()> openTutorial_;
  std::shared_ptr<FirstViewController> screen_;
  std::shared_ptr<NavigationController> navigation_;
  std::shared_ptr<uikit::UIWindow> window_;
  std::shared_ptr<uikit::UITableView> table_;
};

TEST_F(MainScreenTests, TheTableWaitsForTheConfigurationThenShowsTheListsAndSwitchesThemOn) {
  // Before the configuration: the table is hidden behind the spinner and the progress bar, and
  // only the whitelist row exists.
  settle();
  auto spinner = screen_->spinner.lock();
  EXPECT_EQ(table_->alpha(), 0.0);
  EXPECT_TRUE(spinner->isAnimating());
  EXPECT_TRUE(screen_->progressBar()->isAnimating());
  EXPECT_EQ(screen_->numberOfRowsInSection(*table_, 0), 0);
  EXPECT_EQ(screen_->numberOfRowsInSection(*table_, 1), 1);
  EXPECT_EQ(screen_->numberOfRowsInSection(*table_, 2), 0);
  EXPECT_FALSE(screen_->titleForFooterInSection(*table_, 0));

  releaseConfig();
  ASSERT_TRUE(test_support::pumpUntil([&] { return screen_->gotData && table_->numberOfRowsInSection(0) == 2; }));
  settle();
  EXPECT_FALSE(spinner->isAnimating());
  EXPECT_FALSE(screen_->progressBar()->isAnimating());
  EXPECT_EQ(table_->alpha(), 1.0);
  EXPECT_EQ(table_->numberOfRowsInSection(2), 1);
  // The footer names the newest list, which is not the first.
  EXPECT_EQ(screen_->titleForFooterInSection(*table_, 0),
            "Last definitions update: " + formatListDate(foundation::Date::fromTimeIntervalSince1970(1700000000.0)));

  auto downloaded = listCell(0);
  auto missing = listCell(1);
  ASSERT_TRUE(downloaded && missing);
  EXPECT_EQ(downloaded->titleLabel.lock()->text(), "List a");
  EXPECT_EQ(missing->titleLabel.lock()->text(), "List b");
  EXPECT_EQ(missing->downloadButton.lock()->alpha(), 1.0);
  EXPECT_EQ(missing->enabledSwitch.lock()->alpha(), 0.0);
  auto toggle = downloaded->enabledSwitch.lock();
  EXPECT_EQ(toggle->alpha(), 1.0);
  EXPECT_FALSE(toggle->isOn());

  std::filesystem::create_directories(FENDREL_SCREENSHOT_DIR);
  ASSERT_TRUE(uikit::Renderer::renderViewToPNG(*window_, std::string(FENDREL_SCREENSHOT_DIR) + "/main.png", 2.0));

  state_.compileService->compilations.clear();
  toggle->setOn(true, false);
  toggle->sendActionsForControlEvents(uikit::UIControlEventValueChanged);
  settle();
  EXPECT_EQ(Singleton::shared().extConfigIDs(), std::set<std::string>{"a"});
  EXPECT_EQ(state_.compileService->compilations.size(), 1u);

  // A compilation shows the busy strip in place of the logo, and its end brings the logo back.
  auto logo = screen_->logoStack.lock();
  auto busy = screen_->busyStack.lock();
  foundation::NotificationCenter::defaultCenter().post("busyOn");
  EXPECT_EQ(logo->alpha(), 0.0);
  EXPECT_EQ(busy->alpha(), 1.0);
  foundation::NotificationCenter::defaultCenter().post("busyOff");
  EXPECT_EQ(logo->alpha(), 1.0);
  EXPECT_EQ(busy->alpha(), 0.0);
}

TEST_F(MainScreenTests, ADisabledExtensionOnReturnToTheForegroundWarnsOnce) {
  // The check at load: the extension is on, so nothing is shown.
  ASSERT_EQ(uikit::ContentBlockerState::requests(), std::vector<std::string>{kExtensionBundleIdentifier});
  ASSERT_TRUE(uikit::ContentBlockerState::answer(true));
  ASSERT_TRUE(test_support::pumpUntil([] { return true; }));
  settle();
  EXPECT_EQ(banners_, 0);

  auto& app = uikit::UIApplication::shared();
  auto toForeground = [&] {
    app.setApplicationState(uikit::UIApplicationState::Background);
    app.setApplicationState(uikit::UIApplicationState::Active);
  };
  toForeground();
  ASSERT_TRUE(uikit::ContentBlockerState::answer(false));
  ASSERT_TRUE(test_support::pumpUntil([&] { return banners_ > 0; }));
  settle();
  EXPECT_EQ(banners_, 1);

  // An error says nothing about the extension.
  toForeground();
  ASSERT_TRUE(uikit::ContentBlockerState::answer(std::nullopt, foundation::Error("test", 1)));
  settle();
  clock_->advance(1.0);
  dispatch::drainMainQueue();
  EXPECT_EQ(banners_, 1);

  // The banner's button opens the tutorial from the screen.
  ASSERT_TRUE(openTutorial_);
  openTutorial_();
  settle();
  auto tutorial = std::dynamic_pointer_cast<TutorialViewController>(navigation_->presentedViewController());
  ASSERT_TRUE(tutorial);
  EXPECT_EQ(tutorial->launchContext, TutorialViewController::LaunchContext::transientButton);
}

TEST_F(MainScreenTests, TheWarningBannerStaysFiveSecondsAndItsButtonOpensTheTutorial) {
  setExtensionDisabledBannerPresenter({});
  auto banners = MessageBanners::MessageBanners::sharedInstance();
  auto now = [] { return dispatch::Clock::current().uptime(); };
  auto runUntil = [&](double end) { test_support::runBannersUntil(*clock_, end); };

  // Laid-out text sizes match the drawn text in the screenshot.
  const auto measurer = uikit::TextMeasurer::current();
  uikit::TextMeasurer::setCurrent(std::make_shared<uikit::FontTextMeasurer>());
  screen_->showNotActivatedBanner();
  const double start = now();
  runUntil(start + 0.1);
  auto card = banners->current<MessageBanners::MessageView>();
  ASSERT_TRUE(card);
  EXPECT_EQ(card->titleLabel()->text(), "😰 Not activated...");
  EXPECT_EQ(card->bodyLabel()->text(), "Please consult tutorial on how to activate " + appName() + " for Safari");
  ASSERT_TRUE(card->button());
  EXPECT_FALSE(card->button()->isHidden());
  EXPECT_EQ(card->button()->titleForState(uikit::UIControlStateNormal), "Tutorial");
  runUntil(start + 1.0);
  writeScreenPNG(std::string(FENDREL_SCREENSHOT_DIR) + "/main-warning-banner.png", 2.0);
  uikit::TextMeasurer::setCurrent(measurer);
  // Still up just before five seconds, and gone within the hide animation after that.
  runUntil(start + 4.9);
  EXPECT_EQ(banners->current<MessageBanners::MessageView>(), card);
  runUntil(start + 7.0);
  EXPECT_FALSE(banners->current());

  // A second warning: its button opens the tutorial from the screen and hides the banner.
  screen_->showNotActivatedBanner();
  const double second = now();
  runUntil(second + 1.0);
  card = banners->current<MessageBanners::MessageView>();
  ASSERT_TRUE(card);
  card->button()->sendActionsForControlEvents(uikit::UIControlEventTouchUpInside);
  runUntil(second + 2.0);
  auto tutorial = std::dynamic_pointer_cast<TutorialViewController>(navigation_->presentedViewController());
  ASSERT_TRUE(tutorial);
  EXPECT_EQ(tutorial->launchContext, TutorialViewController::LaunchContext::transientButton);
  EXPECT_FALSE(banners->current());
}

TEST_F(MainScreenTests, TheShareSheetSharesTheAppAndLogsOnlyCompletedShares) {
  struct Row {
    const char* name;
    std::optional<std::string> activityType;
    bool completed;
    bool logged;
  };
  const Row rows[] = {
      {"cancelled", std::nullopt, false, false},
      {"chosen but not completed", uikit::UIActivityTypeMail, false, false},
      {"completed", uikit::UIActivityTypeMail, true, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    screen_->shareFromMenu();
    settle();
    auto sheet = std::dynamic_pointer_cast<uikit::UIActivityViewController>(navigation_->presentedViewController());
    ASSERT_TRUE(sheet);
    ASSERT_EQ(sheet->activityItems.size(), 2u);
    auto text = std::any_cast<std::shared_ptr<uikit::UIActivityItemProvider>>(sheet->activityItems[0])->item();
    auto url = std::any_cast<std::shared_ptr<uikit::UIActivityItemProvider>>(sheet->activityItems[1])->item();
    EXPECT_EQ(std::any_cast<std::string>(text), "Please try this app, you'll like it!\n\n" + appName());
    EXPECT_EQ(std::any_cast<foundation::URL>(url).absoluteString(),
              Singleton::shared().shareAppUrl().absoluteString());
    EXPECT_TRUE(sheet->applicationActivities.empty());
    EXPECT_EQ(sheet->excludedActivityTypes,
              (std::vector<std::string>{uikit::UIActivityTypePrint, uikit::UIActivityTypeAssignToContact,
                                        uikit::UIActivityTypeSaveToCameraRoll, uikit::UIActivityTypeAirDrop}));
    EXPECT_FALSE(sheet->complete(uikit::UIActivityTypeAirDrop, true));

    const auto before = state_.analytics->events().size();
    ASSERT_TRUE(sheet->complete(row.activityType, row.completed));
    settle();
    const auto events = state_.analytics->events();
    const auto params = state_.analytics->parameters();
    const bool shareDone = events.size() > before && events.back() == "shareDone";
    EXPECT_EQ(shareDone, row.logged);
    if (shareDone) {
      EXPECT_EQ(params.back(), (tovel::AnalyticsParameters{{"activityType", uikit::UIActivityTypeMail}}));
    }
    EXPECT_FALSE(navigation_->presentedViewController());
  }
}

TEST_F(MainScreenTests, TheFirstAppearanceShowsTheTutorialAndTheWhitelistRowLeadsToTheWhitelist) {
  ASSERT_TRUE(Singleton::shared().userDefs()->setBool("tutorialShown", false));
  auto fresh = screens_.instantiate<FirstViewController>("Main", "FirstViewController");
  auto window = uikit::UIWindow::create(uikit::UIScreen::main().bounds());
  auto navigation = NavigationController::create(fresh);
  window->setRootViewController(navigation);
  window->makeKeyAndVisible();
  settle();
  auto tutorial = std::dynamic_pointer_cast<TutorialViewController>(navigation->presentedViewController());
  ASSERT_TRUE(tutorial);
  EXPECT_EQ(tutorial->launchContext, TutorialViewController::LaunchContext::onLaunch);
  EXPECT_TRUE(Singleton::shared().userDefs()->boolean("tutorialShown"));
  tutorial->closeTap();
  settle();

  auto table = fresh->tableView.lock();
  fresh->didSelectRowAtIndexPath(*table, {1, 0});
  settle();
  EXPECT_EQ(navigation->topViewController()->className(), "WhitelistViewController");
}

TEST_F(MainScreenTests, MenuOpensOnlyUsableAddresses) {
  struct Row {
    const char* name;
    const char* learnMore;
    bool browser;
    bool opened;
  };
  const Row rows[] = {
      {"web page", "https://example.com/more", true, false},
      {"other scheme", "mailto:help@example.com", false, true},
      {"no URL", "not a url", false, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    state_.config->set(Dictionary{{"cloudConfig", Dictionary{{"learnMorePageUrl", row.learnMore}}}},
                       foundation::URL::parse("http://127.0.0.1/config.json"));
    Singleton::shared().setCloudConfig(state_.config);
    std::vector<std::string> opened;
    uikit::UIApplication::shared().setURLOpener(
        [&](const std::string& url, const foundation::Dictionary&, std::function<void(bool)> done) {
          opened.push_back(url);
          if (done) done(true);
        });
    screen_->learnMoreFromMenu();
    settle();
    auto browser = std::dynamic_pointer_cast<uikit::SFSafariViewController>(navigation_->presentedViewController());
    EXPECT_EQ(browser != nullptr, row.browser);
    EXPECT_EQ(opened.size(), row.opened ? 1u : 0u);
    if (browser) {
      screen_->dismissViewControllerAnimated(false);
      settle();
    }
  }
}

}  // namespace
}  // namespace fendrel

// The app ends without tearing down its statics (its threads may still be delivering a
// configuration answer); the screen's tests end the same way, so a late answer on a network
// thread never meets a parser whose statics are being destroyed.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  std::fflush(nullptr);
  std::_Exit(status);
}
