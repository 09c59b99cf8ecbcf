// Breadcrumbs of the UI: control actions ("touch") with the data of the touched view, screens
// appearing ("ui.lifecycle") with the data of their controller, and an SDK started, closed and
// started again recording each of them once.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Breadcrumbs/DozidiAutoBreadcrumbTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Breadcrumbs/DozidiBreadcrumbTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiBreadcrumb.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzleWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/tests/TemporaryDeviceRoot.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/EventDriver.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/Switch.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "testing/ScopedManualClock.h"

namespace foundation {
// Failures show the breadcrumbs' text.
void PrintTo(const Dictionary& dictionary, std::ostream* out) { *out << Value(dictionary).description(); }
}  // namespace foundation

namespace {

using foundation::Dictionary;
using foundation::Value;

constexpr const char* kDsn = "http://0123456789abcdef0123456789abcdef@127.0.0.1:9/42";

// The application's own controllers and action target, as an app registers them.
class HomeController : public uikit::UIViewController {};
class DetailController : public uikit::UIViewController {};
class Target : public uikit::NSObject {};

}  // namespace

RUNTIME_CLASS(HomeController, uikit::UIViewController, "Shop.HomeController");
RUNTIME_CLASS(DetailController, uikit::UIViewController, "Shop.DetailController");
RUNTIME_CLASS(Target, runtime::Object, "Shop.Target");

namespace {

class ReporterUIBreadcrumbTests : public foundation::test_support::TemporaryDeviceRoot {
 protected:
  void SetUp() override {
    TemporaryDeviceRoot::SetUp();
    uikit::UIApplication::shared().reset();
    DozidiSwizzleWrapper::removeAllCallbacks();
    auto options = DozidiOptions::create();
    options->setDsn(std::string(kDsn));
    DozidiSDK::setCurrentHub(DozidiHub::initWithClient(DozidiClient::initWithOptions(options), nullptr));
  }
  void TearDown() override {
    DozidiSDK::close();
    DozidiSDK::setCurrentHub(nullptr);
    DozidiSwizzleWrapper::removeAllCallbacks();
    uikit::UIApplication::shared().reset();
    TemporaryDeviceRoot::TearDown();
  }
  /// A tracker listening to actions and screens.
  std::shared_ptr<DozidiBreadcrumbTracker> swizzledTracker() {
    auto tracker =
        DozidiBreadcrumbTracker::create(DozidiNSNotificationCenterWrapper::create(), DozidiSwizzleWrapper::sharedInstance());
    tracker->startSwizzle();
    return tracker;
  }
  /// The current hub's breadcrumbs of `category`, serialized without their timestamps.
  static std::vector<Dictionary> crumbs(const std::string& category) {
    std::vector<Dictionary> out;
    for (const auto& crumb : DozidiSDK::currentHub()->scope()->breadcrumbs()) {
      Dictionary d = crumb->serialize();
      if (d["category"] != Value(category)) continue;
      d.remove("timestamp");
      out.push_back(std::move(d));
    }
    return out;
  }
  static Dictionary touch(const std::string& action, std::optional<Dictionary> data) {
    Dictionary d{{"level", "info"}, {"category", "touch"}, {"type", "user"}, {"message", action}};
    if (data) d.set("data", std::move(*data));
    return d;
  }
  static Dictionary screen(Dictionary data) {
    return {{"level", "info"}, {"category", "ui.lifecycle"}, {"type", "navigation"}, {"data", std::move(data)}};
  }
  /// A key window whose root is `root` (set once the window is key, so that the root appears in
  /// the key window).
  static std::shared_ptr<uikit::UIWindow> show(const std::shared_ptr<uikit::UIViewController>& root) {
    auto window = uikit::UIWindow::create({0, 0, 390, 844});
    window->makeKeyAndVisible();
    window->setRootViewController(root);
    dispatch::drainMainQueue();
    return window;
  }

  testing_support::ScopedManualClock clock;
  std::shared_ptr<Target> target = std::make_shared<Target>();
};

TEST_F(ReporterUIBreadcrumbTests, ControlActionsRecordTheTouchedView) {
  auto tracker = swizzledTracker();
  auto home = std::make_shared<HomeController>();
  auto window = show(home);
  auto buy = uikit::UIButton::create({10, 100, 120, 44});
  buy->setTitle("Buy", uikit::UIControlStateNormal);
  auto wifi = std::make_shared<uikit::UISwitch>();
  wifi->setFrame({10, 200, 51, 31});
  wifi->tag = 7;
  wifi->accessibilityIdentifier = "wifi";
  auto untitled = uikit::UIButton::create({10, 300, 120, 44});
  untitled->tag = 0;
  for (auto& view : std::vector<std::shared_ptr<uikit::UIView>>{buy, wifi, untitled}) home->view()->addSubview(view);
  buy->addTarget<Target>(target, "buy:forEvent:", uikit::UIControlEventTouchUpInside, [](Target&, uikit::UIControl&) {});
  wifi->addTarget<Target>(target, "toggled:", uikit::UIControlEventValueChanged, [](Target&, uikit::UIControl&) {});
  untitled->addTarget<Target>(target, "pressed:", uikit::UIControlEventTouchDown, [](Target&, uikit::UIControl&) {});
  window->layoutIfNeeded();

  struct Case {
    const char* name;
    std::function<void()> act;
    Dictionary expected;
  };
  auto& driver = uikit::UIEventDriver::shared();
  const Case cases[] = {
      {"a button titled Buy: its view and title only", [&] { driver.tap(*buy); },
       touch("buy:forEvent:", Dictionary{{"view", buy->description()}, {"title", "Buy"}})},
      {"a switch with a tag and an identifier", [&] { driver.tap(*wifi); },
       touch("toggled:", Dictionary{{"view", wifi->description()}, {"tag", 7}, {"accessibilityIdentifier", "wifi"}})},
      // At touch-down no touch has ended yet: the action is recorded without data.
      {"an action at touch-down", [&] { driver.tap(*untitled); }, touch("pressed:", std::nullopt)},
      // An action sent by code carries no event.
      {"an action sent by code", [&] { buy->sendActionsForControlEvents(uikit::UIControlEventTouchUpInside); },
       touch("buy:forEvent:", std::nullopt)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto before = crumbs("touch").size();
    c.act();
    auto after = crumbs("touch");
    ASSERT_EQ(after.size(), before + 1);
    EXPECT_EQ(after.back(), c.expected);
  }

  // Without a client nothing is recorded; with it again, the tracker goes on.
  auto hub = DozidiSDK::currentHub();
  hub->bindClient(nullptr);
  driver.tap(*buy);
  EXPECT_EQ(crumbs("touch").size(), std::size(cases));
}

TEST_F(ReporterUIBreadcrumbTests, ScreensRecordTheirControllerAndNameTheTransaction) {
  auto tracker = swizzledTracker();
  auto home = std::make_shared<HomeController>();
  home->navigationItem.title = "Shop";
  home->title = "ignored: the navigation item's title wins";
  auto navigation = uikit::UINavigationController::create(home);
  auto window = show(navigation);
  const std::string windowText = window->description();
  const Dictionary inWindow{{"window", windowText}, {"window_isKeyWindow", "true"}, {"window_windowLevel", "0.000000"}};
  auto withWindow = [&](Dictionary data, const char* isRoot) {
    for (const auto& [key, value] : inWindow) data.set(key, value);
    data.set("is_window_rootViewController", isRoot);
    return data;
  };

  auto shown = crumbs("ui.lifecycle");
  ASSERT_EQ(shown.size(), 2u);  // the navigation controller, then its top controller
  EXPECT_EQ(shown[0], screen(withWindow({{"screen", "UINavigationController"}, {"beingPresented", "false"}}, "true")));
  EXPECT_EQ(shown[1], screen(withWindow({{"screen", "Shop.HomeController"}, {"title", "Shop"}, {"beingPresented", "false"},
                                         {"parentViewController", "UINavigationController"}},
                                        "false")));

  auto detail = std::make_shared<DetailController>();
  detail->title = "Basket";
  home->presentViewController(detail, false);
  dispatch::drainMainQueue();
  shown = crumbs("ui.lifecycle");
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown.back(), screen(withWindow({{"screen", "Shop.DetailController"}, {"title", "Basket"},
                                             {"beingPresented", "true"}, {"presentingViewController", "UINavigationController"}},
                                            "false")));
  EXPECT_EQ(DozidiSDK::currentHub()->scope()->extras()["__dozidi_transaction"], Value("Shop.DetailController"));

  // A controller whose view is in no window has no window fields.
  auto loose = std::make_shared<DetailController>();
  loose->beginAppearanceTransition(true, false);
  loose->endAppearanceTransition();
  EXPECT_EQ(crumbs("ui.lifecycle").back(), screen({{"screen", "Shop.DetailController"}, {"beingPresented", "false"}}));
}

TEST_F(ReporterUIBreadcrumbTests, StartingTheSDKAgainRecordsEachTouchAndScreenOnce) {
  DozidiAutoBreadcrumbTrackingIntegration::registerWithSDK();
  auto start = [](bool swizzling) {
    DozidiSDK::startWithConfigureOptions([swizzling](DozidiOptions& o) {
      o.setDsn(std::string(kDsn));
      o.setIntegrations({"DozidiAutoBreadcrumbTrackingIntegration"});
      o.enableSwizzling = swizzling;
    });
  };
  auto home = std::make_shared<HomeController>();
  auto window = show(home);
  auto button = uikit::UIButton::create({10, 100, 120, 44});
  home->view()->addSubview(button);
  button->addTarget<Target>(target, "buy:", uikit::UIControlEventTouchUpInside, [](Target&, uikit::UIControl&) {});
  window->layoutIfNeeded();
  auto appear = [&] {
    home->beginAppearanceTransition(false, false);
    home->endAppearanceTransition();
    home->beginAppearanceTransition(true, false);
    home->endAppearanceTransition();
  };

  struct Case {
    const char* name;
    std::function<void()> startAgain;
    std::size_t perEvent;
  };
  const Case cases[] = {
      {"started twice", [&] { start(true); start(true); }, 1},
      {"closed and started again", [&] { DozidiSDK::close(); start(true); }, 1},
      // Lifecycle breadcrumbs still come without swizzling; touches and screens do not.
      {"started again without swizzling", [&] { DozidiSDK::close(); start(false); }, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.startAgain();
    uikit::UIEventDriver::shared().tap(*button);
    appear();
    foundation::NotificationCenter::defaultCenter().post(kDozidiAppDidEnterBackgroundNotification);
    EXPECT_EQ(crumbs("touch").size(), c.perEvent);
    EXPECT_EQ(crumbs("ui.lifecycle").size(), c.perEvent);
    EXPECT_EQ(crumbs("app.lifecycle").size(), 1u);
  }
}

}  // namespace
