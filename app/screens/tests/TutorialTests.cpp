#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

#include "app/screens/TutorialViewController.h"
#include "app/screens/tests/ScreensTestSupport.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Renderer.h"
#include "platform/uikit/Window.h"

namespace fendrel {
namespace {

using Context = TutorialViewController::LaunchContext;

/// Keeps every event with its parameters as text.
class ParameterAnalytics final : public tovel::AnalyticsTracker {
 public:
  struct Event {
    std::string name;
    std::map<std::string, std::string> params;
  };
  std::string identifier() override { return "test-device"; }
  bool enabled() const override { return true; }
  void setEnabled(bool) override {}
  void log(std::string_view event, const tovel::AnalyticsParameters& params = {}, tovel::Once = tovel::Once::No) override {
    Event e{std::string(event), {}};
    for (const auto& [key, value] : params) {
      if (auto text = value.asString()) {
        e.params[key] = *text;
      } else if (auto number = value.asInt64()) {
        e.params[key] = std::to_string(*number);
      } else {
        e.params[key] = "<none>";
      }
    }
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(e));
  }
  void logError(std::string_view, std::string_view, const tovel::AnalyticsParameters&, std::string_view,
                std::uint64_t) override {}
  void logPurchase(bool, std::string_view, std::string_view, foundation::Number, const tovel::AnalyticsParameters&,
                   std::optional<std::string>) override {}
  void logInvite(std::string_view, const tovel::AnalyticsParameters&) override {}
  std::vector<Event> named(const std::string& name) const {
    std::lock_guard lock(mutex_);
    std::vector<Event> out;
    for (const auto& e : events_)
      if (e.name == name) out.push_back(e);
    return out;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Event> events_;
};

class TutorialTests : public ::testing::Test {
 protected:
  void SetUp() override {
    Singleton::shared().setAnalytics(analytics_);
    window_ = uikit::UIWindow::create(uikit::UIScreen::main().bounds());
    root_ = std::make_shared<uikit::UIViewController>();
    window_->setRootViewController(root_);
    window_->makeKeyAndVisible();
  }
  void TearDown() override { uikit::UIDevice::current().systemVersion = "17.0"; }
  std::shared_ptr<TutorialViewController> present(std::optional<Context> context) {
    auto tutorial = screens_.instantiate<TutorialViewController>("Main", "TutorialViewController");
    if (!tutorial) return nullptr;
    tutorial->launchContext = context;
    root_->presentViewController(tutorial, true);
    settle();
    return tutorial;
  }
  void settle() {
    for (int i = 0; i < 4; ++i) {
      clock_->advance(0.5);
      dispatch::drainMainQueue();
    }
  }

  test_support::ScopedManualClock clock_;
  test_support::ScopedDeviceRoot device_;
  test_support::ScopedAppState state_;
  test_support::ScopedScreens screens_;
  std::shared_ptr<ParameterAnalytics> analytics_ = std::make_shared<ParameterAnalytics>();
  std::shared_ptr<uikit::UIWindow> window_;
  std::shared_ptr<uikit::UIViewController> root_;
};

TEST_F(TutorialTests, OpeningAndClosingReportTheLaunchContextAndThePage) {
  const std::pair<std::optional<Context>, const char*> rows[] = {
      {Context::navigationButton, "navigationButton"},
      {Context::transientButton, "transientButton"},
      {Context::onLaunch, "onLaunch"},
      {std::nullopt, "<none>"},
  };
  int page = 0;
  for (const auto& [context, raw] : rows) {
    SCOPED_TRACE(raw);
    auto tutorial = present(context);
    ASSERT_TRUE(tutorial);
    EXPECT_EQ(tutorial->controllers().size(), 6u);
    EXPECT_EQ(analytics_->named("tutorialOpened").back().params.at("launchContext"), raw);
    for (int i = 0; i < page; ++i) tutorial->nextPage();
    settle();
    ASSERT_EQ(tutorial->currentPage(), page);
    tutorial->closeTap();
    settle();
    EXPECT_FALSE(root_->presentedViewController());
    auto closed = analytics_->named("tutorialClosed").back().params;
    EXPECT_EQ(closed.at("launchContext"), raw);
    EXPECT_EQ(closed.at("onPage"), std::to_string(page));
    ++page;
  }
  EXPECT_EQ(analytics_->named("tutorialOpened").size(), 4u);
  EXPECT_EQ(analytics_->named("tutorialClosed").size(), 4u);
}

TEST_F(TutorialTests, EachPageSetsTheStatusBarAndTheLastShowsDoneAndOpensSettings) {
  auto tutorial = present(Context::navigationButton);
  ASSERT_TRUE(tutorial);
  auto container = tutorial->skipButtonContainerView;
  EXPECT_TRUE(container->isHidden());
  EXPECT_EQ(tutorial->skipButton()->titleForState(uikit::UIControlStateNormal), "Done");
  EXPECT_EQ(tutorial->skipButtonOriginalText(), "Skip");
  using Style = uikit::UIStatusBarStyle;
  const Style styles[] = {Style::Default, Style::Default, Style::LightContent,
                          Style::Default, Style::LightContent, Style::Default};
  auto last = std::dynamic_pointer_cast<TutorialLastPageViewController>(tutorial->controllers().back());
  ASSERT_TRUE(last);
  auto scroll = last->scrollView.lock();
  for (int page = 0; page < 6; ++page) {
    SCOPED_TRACE(page);
    if (page > 0) tutorial->nextPage();
    settle();
    ASSERT_EQ(tutorial->currentPage(), page);
    EXPECT_EQ(tutorial->preferredStatusBarStyle(), styles[page]);
    EXPECT_EQ(uikit::UIApplication::shared().statusBarStyle(), styles[page]);
    EXPECT_EQ(container->isHidden(), page != 5);
    EXPECT_EQ(scroll->indicatorFlashes, page == 5 ? 1 : 0);
    if (page == 2) {
      std::filesystem::create_directories(FENDREL_SCREENSHOT_DIR);
      ASSERT_TRUE(uikit::Renderer::renderViewToPNG(*window_, std::string(FENDREL_SCREENSHOT_DIR) + "/tutorial.png", 2.0));
    }
  }

  std::vector<std::string> opened;
  uikit::UIApplication::shared().setURLOpener([&](const std::string& url, const foundation::Dictionary&, std::function<void(bool)> done) {
    opened.push_back(url);
    if (done) done(true);
  });
  last->settingsButton.lock()->sendActionsForControlEvents(uikit::UIControlEventTouchUpInside);
  settle();
  EXPECT_EQ(opened, std::vector<std::string>{Singleton::shared().settingsUrl().absoluteString()});
  EXPECT_FALSE(root_->presentedViewController()) << "the settings button closes the tutorial";
}

TEST_F(TutorialTests, BeforeSheetPresentationsTheSkipButtonSwapsItsTitle) {
  uikit::UIDevice::current().systemVersion = "12.4";
  auto tutorial = present(Context::onLaunch);
  ASSERT_TRUE(tutorial);
  auto skip = tutorial->skipButton();
  EXPECT_FALSE(tutorial->skipButtonContainerView->isHidden());
  EXPECT_EQ(tutorial->skipButtonContainerView->layer()->cornerRadius(), 7.5);
  for (int i = 0; i < 5; ++i) tutorial->nextPage();
  settle();
  ASSERT_EQ(tutorial->currentPage(), 5);
  EXPECT_EQ(skip->titleForState(uikit::UIControlStateNormal), "Done");
  tutorial->prevPage();
  settle();
  EXPECT_EQ(skip->titleForState(uikit::UIControlStateNormal), "Skip");
  skip->sendActionsForControlEvents(uikit::UIControlEventTouchUpInside);
  settle();
  EXPECT_FALSE(root_->presentedViewController());
}

}  // namespace
}  // namespace fendrel
