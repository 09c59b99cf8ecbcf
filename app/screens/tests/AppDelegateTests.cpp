#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>

#include "app/screens/AppDelegate.h"

#include "app/core/CrashReporting.h"
#include "app/screens/tests/ScreensTestSupport.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"

namespace fendrel {
namespace {

/// Notes whether the crash reporter was running when "firstLaunchEver" went out: that event is
/// sent by the first read of the launch count.
class ReporterCheckingAnalytics final : public tovel::AnalyticsTracker {
 public:
  std::string identifier() override { return "test-device"; }
  bool enabled() const override { return true; }
  void setEnabled(bool) override {}
  void log(std::string_view event, const tovel::AnalyticsParameters& = {}, tovel::Once = tovel::Once::No) override {
    if (event == "firstLaunchEver") {
      ++firstLaunches;
      reporterRunningAtFirstLaunch = DozidiSDK::isEnabled();
    }
  }
  void logError(std::string_view, std::string_view, const tovel::AnalyticsParameters&, std::string_view,
                std::uint64_t) override {}
  void logPurchase(bool, std::string_view, std::string_view, foundation::Number, const tovel::AnalyticsParameters&,
                   std::optional<std::string>) override {}
  void logInvite(std::string_view, const tovel::AnalyticsParameters&) override {}

  int firstLaunches = 0;
  bool reporterRunningAtFirstLaunch = false;
};

class AppDelegateTests : public ::testing::Test {
 protected:
  void SetUp() override {
    // A loopback address: the reporter starts, and nothing it might send leaves the machine.
    ::setenv("FENDREL_DSN", "http://e83d51a07bc94f26a1d5703c98e4b2f1@127.0.0.1:9/7351842", 1);
    Singleton::shared().setAnalyticsForTesting(analytics_);
  }
  void TearDown() override {
    DozidiSDK::close();
    ::unsetenv("FENDREL_DSN");
  }
  std::int64_t storedCount() { return Singleton::shared().userDefs()->integer("launchCount"); }

  test_support::ScopedManualClock clock_;
  test_support::ScopedDeviceRoot root_;
  test_support::ScopedAppState state_;
  std::shared_ptr<ReporterCheckingAnalytics> analytics_ = std::make_shared<ReporterCheckingAnalytics>();
};

TEST_F(AppDelegateTests, EachLaunchCountsOnceAfterTheCrashReporterStarted) {
  AppDelegate first;
  EXPECT_TRUE(first.didFinishLaunchingWithOptions());
  EXPECT_TRUE(DozidiSDK::isEnabled());
  EXPECT_EQ(storedCount(), 1);
  EXPECT_EQ(analytics_->firstLaunches, 1);
  EXPECT_TRUE(analytics_->reporterRunningAtFirstLaunch);

  AppDelegate second;
  EXPECT_TRUE(second.didFinishLaunchingWithOptions());
  EXPECT_EQ(storedCount(), 2);
  EXPECT_EQ(analytics_->firstLaunches, 1) << "sent once in the app's life";
}

TEST_F(AppDelegateTests, TheLaunchCountStopsAtItsLargestValue) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  ASSERT_TRUE(Singleton::shared().userDefs()->set("launchCount", foundation::Value(kMax)));
  AppDelegate delegate;
  EXPECT_TRUE(delegate.didFinishLaunchingWithOptions());
  EXPECT_EQ(storedCount(), kMax);
}

TEST(AppDelegateDSNTests, TheAppAddressUnlessTheEnvironmentGivesOne) {
  ::unsetenv("FENDREL_DSN");
  const std::string dsn = crashReportingDSN();
  EXPECT_EQ(dsn.size(), 73u);
  EXPECT_TRUE(dsn.starts_with("https://e83d51a07bc94f26a1d5703c98e4b2f1@"));
  ::setenv("FENDREL_DSN", "http://k@127.0.0.1:9/1", 1);
  EXPECT_EQ(crashReportingDSN(), "http://k@127.0.0.1:9/1");
  ::unsetenv("FENDREL_DSN");
}

TEST_F(AppDelegateTests, AnEmptyAddressLeavesTheReporterOffAndStillCountsTheLaunch) {
  ::setenv("FENDREL_DSN", "", 1);
  AppDelegate delegate;
  EXPECT_TRUE(delegate.didFinishLaunchingWithOptions());
  EXPECT_FALSE(DozidiSDK::isEnabled());
  EXPECT_EQ(storedCount(), 1);
}

}  // namespace
}  // namespace fendrel
