// The app-start tracker: start types from the previous run's state, the rules that skip a
// measurement, measuring once per process, and the spans the first load transaction gets.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <set>

#include "../../tests/PerformanceTracerFixture.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/PrivateDozidiSDKOnly.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppState.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppStateManager.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/AppStart/DozidiAppStartTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiSysctl.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

using foundation::Date;
using namespace performance_test;

constexpr double kBoot = 1'699'990'000.0;

/// Process start a given time before the test clock's now; fixed module-initialization and boot dates.
struct FakeSysctl final : DozidiSysctl {
  Date processStart, moduleInit;
  double boot = kBoot;
  Date processStartTimestamp() const override { return processStart; }
  Date moduleInitializationTimestamp() const override { return moduleInit; }
  Date systemBootTimestamp() const override { return Date::fromTimeIntervalSince1970(boot); }
};

class PerformanceAppStartTests : public TracerFixture {
 protected:
  void SetUp() override {
    TracerFixture::SetUp();
    DozidiAppStartTracker::resetMeasuredOnce();
    DozidiAppStartTracker::setActivePrewarm(false);
    foundation::Error error("", 0);
    fileManager = DozidiFileManager::initWithOptions(*options, clock.provider(), queue, &error);
    ASSERT_TRUE(fileManager);
    sysctl->processStart = clock->date().addingTimeInterval(-1.5);
    sysctl->moduleInit = clock->date().addingTimeInterval(-0.5);
  }
  void TearDown() override {
    tracker.reset();
    DozidiAppStartTracker::setActivePrewarm(false);
    PrivateDozidiSDKOnly::setAppStartMeasurementHybridSDKMode(false);
    DozidiSDK::setAppStartMeasurement(nullptr);
    TracerFixture::TearDown();
  }

  /// Leaves a previous run's state behind, as the SDK's start does.
  void previousRun(const std::string& release, double boot) {
    fileManager->storeAppState(DozidiAppState(release, "6.1", "ID", false, Date::fromTimeIntervalSince1970(boot)));
    fileManager->moveAppStateToPreviousAppState();
  }
  void startTracker(bool enablePrewarmed = false) {
    auto manager = std::make_shared<DozidiAppStateManager>("app@1.0", DozidiCrashWrapper::sharedInstance(), fileManager,
                                                           sysctl, queue, DozidiNSNotificationCenterWrapper::create());
    tracker = DozidiAppStartTracker::create(clock.provider(), queue, manager, sysctl, enablePrewarmed,
                                            DozidiNSNotificationCenterWrapper::create());
    tracker->start();
  }
  static void post(const char* name) { foundation::NotificationCenter::defaultCenter().post(name); }

  std::shared_ptr<FakeSysctl> sysctl = std::make_shared<FakeSysctl>();
  std::shared_ptr<DozidiFileManager> fileManager;
  std::shared_ptr<DozidiAppStartTracker> tracker;
};

TEST_F(PerformanceAppStartTests, TheFirstVisibleWindowMeasuresFromTheProcessStart) {
  startTracker();
  clock->advance(0.25);
  post(kDozidiDidFinishLaunchingNotification);
  const Date launched = clock->date();
  clock->advance(0.25);
  post(kDozidiWindowDidBecomeVisibleNotification);
  auto measured = DozidiSDK::getAppStartMeasurement();
  ASSERT_TRUE(measured);
  EXPECT_EQ(measured->type, DozidiAppStartType::Cold);
  EXPECT_FALSE(measured->isPreWarmed);
  EXPECT_EQ(measured->appStartTimestamp, sysctl->processStart);
  EXPECT_DOUBLE_EQ(measured->duration, 2.0);
  EXPECT_EQ(measured->didFinishLaunchingTimestamp, launched);
  EXPECT_EQ(measured->moduleInitializationTimestamp, sysctl->moduleInit);
  EXPECT_EQ(measured->runtimeInitTimestamp, DozidiAppStartTracker::runtimeInit());

  // A second window, and a later tracker in the same process, measure nothing.
  DozidiSDK::setAppStartMeasurement(nullptr);
  post(kDozidiWindowDidBecomeVisibleNotification);
  startTracker();
  post(kDozidiWindowDidBecomeVisibleNotification);
  EXPECT_FALSE(DozidiSDK::getAppStartMeasurement());
}

TEST_F(PerformanceAppStartTests, StartTypeAndSkipRules) {
  struct Case {
    const char* name;
    std::optional<std::pair<const char*, double>> previous;  // release and boot of the previous run
    double duration = 1.5;
    bool background = false, prewarmed = false, enablePrewarmed = false;
    std::optional<DozidiAppStartType> expected;  // none: nothing measured
  };
  using T = DozidiAppStartType;
  const Case cases[] = {
      {"first run", std::nullopt, 1.5, false, false, false, T::Cold},
      {"same release and boot", std::pair{"app@1.0", kBoot}, 1.5, false, false, false, T::Warm},
      {"new release", std::pair{"app@0.9", kBoot}, 1.5, false, false, false, T::Cold},
      {"rebooted since", std::pair{"app@1.0", kBoot - 60}, 1.5, false, false, false, T::Cold},
      {"previous boot later", std::pair{"app@1.0", kBoot + 60}, 1.5, false, false, false, std::nullopt},
      {"went to the background", std::nullopt, 1.5, true, false, false, std::nullopt},
      {"exactly the limit", std::nullopt, 180.0, false, false, false, std::nullopt},
      {"just under the limit", std::nullopt, 179.9, false, false, false, T::Cold},
      {"prewarmed, not enabled", std::nullopt, 1.5, false, true, false, std::nullopt},
      {"prewarmed, enabled", std::nullopt, 1.5, false, true, true, T::Cold},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DozidiAppStartTracker::resetMeasuredOnce();
    DozidiSDK::setAppStartMeasurement(nullptr);
    std::remove(fileManager->previousAppStateFilePath().c_str());
    if (c.previous) previousRun(c.previous->first, c.previous->second);
    DozidiAppStartTracker::setActivePrewarm(c.prewarmed);
    sysctl->processStart = clock->date().addingTimeInterval(-c.duration);
    startTracker(c.enablePrewarmed);
    if (c.background) post(kDozidiDidEnterBackgroundNotification);
    post(kDozidiWindowDidBecomeVisibleNotification);
    auto measured = DozidiSDK::getAppStartMeasurement();
    ASSERT_EQ(measured != nullptr, c.expected.has_value());
    if (!measured) continue;
    EXPECT_EQ(measured->type, *c.expected);
    EXPECT_EQ(measured->isPreWarmed, c.prewarmed);
    EXPECT_EQ(measured->appStartTimestamp, c.prewarmed ? sysctl->moduleInit : sysctl->processStart);
  }
}

TEST_F(PerformanceAppStartTests, HybridModeMeasuresAtStartWithNoDuration) {
  PrivateDozidiSDKOnly::setAppStartMeasurementHybridSDKMode(true);
  std::shared_ptr<const DozidiAppStartMeasurement> handedOn;
  DozidiSDK::setOnAppStartMeasurementAvailable([&](auto measurement) { handedOn = measurement; });
  startTracker();
  DozidiSDK::setOnAppStartMeasurementAvailable(nullptr);
  ASSERT_TRUE(handedOn);
  EXPECT_EQ(handedOn->duration, 0.0);
  EXPECT_EQ(handedOn->didFinishLaunchingTimestamp, Date::referenceDate());
  EXPECT_EQ(handedOn->appStartTimestamp, sysctl->processStart);
}

TEST_F(PerformanceAppStartTests, TheMeasuredStartBecomesSpansOfTheFirstLoadTransaction) {
  startTracker();
  post(kDozidiWindowDidBecomeVisibleNotification);
  auto load = start("ui.load");
  load->finish();
  auto sent = sentTransactions();
  ASSERT_EQ(sent.size(), 1u);
  std::set<std::string> operations;
  for (const auto& span : *sent[0]["spans"].array()) operations.insert(span["op"].asString().value_or(""));
  EXPECT_EQ(operations, std::set<std::string>{"app.start.cold"});
  EXPECT_EQ(sent[0]["spans"].array()->size(), 5u);
  EXPECT_EQ(sent[0]["measurements"]["app_start_cold"]["value"].asDouble(), 1500.0);
  EXPECT_EQ(sent[0]["start_timestamp"].asDouble(), sysctl->processStart.timeIntervalSince1970());
}

}  // namespace
