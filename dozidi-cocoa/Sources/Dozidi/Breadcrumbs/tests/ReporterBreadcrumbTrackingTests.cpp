// Breadcrumbs recorded from notifications: the lifecycle tracker, device and system events, the
// stored time-zone offset, and an SDK started twice recording each event once.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Breadcrumbs/DozidiAutoBreadcrumbTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Breadcrumbs/DozidiBreadcrumbTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Breadcrumbs/DozidiSystemEventBreadcrumbs.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiBreadcrumb.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzleWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/tests/TemporaryDeviceRoot.h"

namespace {

using foundation::Dictionary;
using foundation::Value;

constexpr const char* kDsn = "http://0123456789abcdef0123456789abcdef@127.0.0.1:9/42";

struct ZoneClock final : DozidiCurrentDateProvider {
  std::int64_t offset = 3600;
  foundation::Date date() override { return foundation::Date::now(); }
  double dispatchTimeNow() override { return 0; }
  std::int64_t timezoneOffset() override { return offset; }
};

struct FakeDevice final : DozidiSystemEventDevice {
  bool monitoring = false, generating = false;
  DozidiBatteryState state = DozidiBatteryState::Unknown;
  float level = -1.0f;
  DozidiDeviceOrientation position = DozidiDeviceOrientation::Unknown;
  bool isBatteryMonitoringEnabled() const override { return monitoring; }
  void setBatteryMonitoringEnabled(bool enabled) override { monitoring = enabled; }
  DozidiBatteryState batteryState() const override { return state; }
  float batteryLevel() const override { return level; }
  bool isGeneratingDeviceOrientationNotifications() const override { return generating; }
  void beginGeneratingDeviceOrientationNotifications() override { generating = true; }
  DozidiDeviceOrientation orientation() const override { return position; }
};

class ReporterBreadcrumbTrackingTests : public foundation::test_support::TemporaryDeviceRoot {
 protected:
  void SetUp() override {
    TemporaryDeviceRoot::SetUp();
    options = DozidiOptions::create();
    options->setDsn(std::string(kDsn));
    hub = DozidiHub::initWithClient(DozidiClient::initWithOptions(options), nullptr);
    DozidiSDK::setCurrentHub(hub);
  }
  void TearDown() override {
    DozidiSDK::setCurrentHub(nullptr);
    TemporaryDeviceRoot::TearDown();
  }
  static void post(const std::string& name) { foundation::NotificationCenter::defaultCenter().post(name); }
  /// The current hub's breadcrumbs, serialized without their timestamps.
  static std::vector<Dictionary> crumbs() {
    std::vector<Dictionary> out;
    for (const auto& crumb : DozidiSDK::currentHub()->scope()->breadcrumbs()) {
      Dictionary d = crumb->serialize();
      d.remove("timestamp");
      out.push_back(std::move(d));
    }
    return out;
  }
  std::shared_ptr<DozidiFileManager> fileManager() { return hub->getClient()->fileManager(); }

  std::shared_ptr<DozidiOptions> options;
  std::shared_ptr<DozidiHub> hub;
};

TEST_F(ReporterBreadcrumbTrackingTests, LifecycleAndMemoryNotificationsUntilStopped) {
  auto tracker =
      DozidiBreadcrumbTracker::create(DozidiNSNotificationCenterWrapper::create(), DozidiSwizzleWrapper::sharedInstance());
  tracker->start();
  post(kDozidiDidReceiveMemoryWarningNotification);
  post(kDozidiAppDidEnterBackgroundNotification);
  post(kDozidiAppDidBecomeActiveNotification);
  const std::vector<Dictionary> expected = {
      {{"level", "info"}, {"category", "started"}, {"type", "debug"}, {"message", "Breadcrumb Tracking"}},
      {{"level", "warning"}, {"category", "device.event"}, {"type", "system"}, {"message", "Low memory"},
       {"data", Dictionary{{"action", "LOW_MEMORY"}}}},
      {{"level", "info"}, {"category", "app.lifecycle"}, {"type", "navigation"}, {"data", Dictionary{{"state", "background"}}}},
      {{"level", "info"}, {"category", "app.lifecycle"}, {"type", "navigation"}, {"data", Dictionary{{"state", "foreground"}}}},
  };
  EXPECT_EQ(crumbs(), expected);

  tracker->stop();
  post(kDozidiAppDidEnterBackgroundNotification);
  EXPECT_EQ(crumbs().size(), expected.size());
}

TEST_F(ReporterBreadcrumbTrackingTests, ASecondStartOfTheSDKRecordsEachEventOnce) {
  DozidiAutoBreadcrumbTrackingIntegration::registerWithSDK();
  auto start = [] {
    DozidiSDK::startWithConfigureOptions([](DozidiOptions& o) {
      o.setDsn(std::string(kDsn));
      o.setIntegrations({"DozidiAutoBreadcrumbTrackingIntegration"});
    });
  };
  start();
  start();
  post(kDozidiAppDidEnterBackgroundNotification);
  post(kDozidiKeyboardDidShowNotification);
  auto all = crumbs();
  EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const Dictionary& d) { return d["category"] == Value("app.lifecycle"); }), 1);
  EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const Dictionary& d) { return d["category"] == Value("device.event"); }), 1);
  DozidiSDK::close();
  post(kDozidiAppDidEnterBackgroundNotification);  // nothing left observing
}

TEST_F(ReporterBreadcrumbTrackingTests, BatteryOrientationKeyboardAndScreenshot) {
  auto device = std::make_shared<FakeDevice>();
  auto events = DozidiSystemEventBreadcrumbs::create(fileManager(), std::make_shared<ZoneClock>(),
                                                     DozidiNSNotificationCenterWrapper::create());
  events->start(device);
  EXPECT_TRUE(device->monitoring);
  EXPECT_TRUE(device->generating);

  struct Case {
    const char* name;
    DozidiBatteryState state;
    float level;
    std::optional<double> percent;
    bool plugged;
  };
  const Case battery[] = {
      {"unknown state", DozidiBatteryState::Unknown, 0.5f, std::nullopt, false},
      {"unknown level", DozidiBatteryState::Charging, -1.0f, std::nullopt, true},
      {"charging", DozidiBatteryState::Charging, 0.25f, 25.0, true},
      {"full", DozidiBatteryState::Full, 1.0f, 100.0, true},
      {"unplugged", DozidiBatteryState::Unplugged, 0.75f, 75.0, false},
  };
  for (const auto& c : battery) {
    SCOPED_TRACE(c.name);
    device->state = c.state;
    device->level = c.level;
    post(kDozidiBatteryStateDidChangeNotification);
    auto crumb = crumbs().back();
    EXPECT_EQ(crumb["category"].asString(), "device.event");
    EXPECT_EQ(crumb["type"].asString(), "system");
    Dictionary data{{"action", "BATTERY_STATE_CHANGE"}};
    if (c.percent) data.set("level", *c.percent);
    data.set("plugged", c.plugged);
    EXPECT_EQ(crumb["data"], Value(data));
  }

  const struct {
    DozidiDeviceOrientation orientation;
    const char* position;  // none: nothing recorded
  } orientations[] = {
      {DozidiDeviceOrientation::PortraitUpsideDown, "portrait"},
      {DozidiDeviceOrientation::LandscapeRight, "landscape"},
      {DozidiDeviceOrientation::FaceUp, nullptr},
      {DozidiDeviceOrientation::Unknown, nullptr},
  };
  for (const auto& c : orientations) {
    SCOPED_TRACE(static_cast<int>(c.orientation));
    device->position = c.orientation;
    const auto before = crumbs().size();
    post(kDozidiOrientationDidChangeNotification);
    if (!c.position) {
      EXPECT_EQ(crumbs().size(), before);
      continue;
    }
    auto crumb = crumbs().back();
    EXPECT_EQ(crumb["category"].asString(), "device.orientation");
    EXPECT_EQ(crumb["type"].asString(), "navigation");
    EXPECT_EQ(crumb["data"], Value(Dictionary{{"position", c.position}}));
  }

  for (const char* name :
       {kDozidiKeyboardDidShowNotification, kDozidiKeyboardDidHideNotification, kDozidiUserDidTakeScreenshotNotification}) {
    post(name);
    EXPECT_EQ(crumbs().back()["data"], Value(Dictionary{{"action", name}}));
  }

  events->stop();
  const auto before = crumbs().size();
  post(kDozidiBatteryLevelDidChangeNotification);
  post(kDozidiKeyboardDidShowNotification);
  EXPECT_EQ(crumbs().size(), before);
  EXPECT_TRUE(device->monitoring) << "battery monitoring stays on";
}

TEST_F(ReporterBreadcrumbTrackingTests, TimeZoneChangesAtStartAndWhileRunning) {
  auto clock = std::make_shared<ZoneClock>();
  auto startEvents = [&] {
    auto events = DozidiSystemEventBreadcrumbs::create(fileManager(), clock, DozidiNSNotificationCenterWrapper::create());
    events->start();
    return events;
  };
  // First run: the offset is stored, nothing recorded.
  startEvents()->stop();
  EXPECT_EQ(fileManager()->readTimezoneOffset(), 3600);
  EXPECT_TRUE(crumbs().empty());

  // Changed while the app was not running: one breadcrumb at the next start.
  clock->offset = -18000;
  auto events = startEvents();
  ASSERT_EQ(crumbs().size(), 1u);
  const Dictionary atStart{{"action", "TIMEZONE_CHANGE"},
                           {"previous_seconds_from_gmt", 3600},
                           {"current_seconds_from_gmt", -18000}};
  EXPECT_EQ(crumbs()[0]["data"], Value(atStart));
  EXPECT_EQ(fileManager()->readTimezoneOffset(), -18000);

  // Changed while running, with the stored offset gone: only the current one.
  clock->offset = 7200;
  fileManager()->deleteTimezoneOffset();
  post(kDozidiSystemTimeZoneDidChangeNotification);
  ASSERT_EQ(crumbs().size(), 2u);
  EXPECT_EQ(crumbs()[1]["data"], Value(Dictionary{{"action", "TIMEZONE_CHANGE"}, {"current_seconds_from_gmt", 7200}}));
  EXPECT_EQ(fileManager()->readTimezoneOffset(), 7200);
}

}  // namespace
