// The tracing integrations install only when every option they depend on holds, and log the
// first one that keeps them off.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiPerformanceTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIEventTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIEventTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"

namespace {

class CapturedLog final : public DozidiLogOutput {
 public:
  void log(const std::string& line) override {
    std::lock_guard lock(lock_);
    lines_.push_back(line);
  }
  bool contains(const std::string& text) {
    std::lock_guard lock(lock_);
    for (const auto& line : lines_) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

 private:
  std::mutex lock_;
  std::vector<std::string> lines_;
};

class UIKitTracingIntegrationTests : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = DozidiLog::logOutput();
    DozidiLog::setLogOutput(log);
    DozidiLog::configure(true, DozidiEventLevel::Debug);
  }
  void TearDown() override {
    DozidiLog::configure(false, DozidiEventLevel::Error);
    DozidiLog::setLogOutput(previous_);
  }
  /// Options with every switch these integrations read turned on.
  static std::shared_ptr<DozidiOptions> tracingOptions() {
    auto options = DozidiOptions::create();
    options->setTracesSampleRate(1.0);
    options->enableUserInteractionTracing = true;
    return options;
  }

  std::shared_ptr<CapturedLog> log = std::make_shared<CapturedLog>();
  std::shared_ptr<DozidiLogOutput> previous_;
};

struct OptionCase {
  const char* option;
  void (*turnOff)(DozidiOptions&);
};
const OptionCase kPerformance = {"enableAutoPerformanceTracking",
                                 [](DozidiOptions& o) { o.enableAutoPerformanceTracking = false; }};
const OptionCase kSwizzling = {"enableSwizzling", [](DozidiOptions& o) { o.enableSwizzling = false; }};
const OptionCase kTracing = {"isTracingEnabled", [](DozidiOptions& o) { o.setTracesSampleRate(std::nullopt); }};

TEST_F(UIKitTracingIntegrationTests, EachIntegrationNeedsEachOfItsOptions) {
  const OptionCase interactions = {"enableUserInteractionTracing",
                                   [](DozidiOptions& o) { o.enableUserInteractionTracing = false; }};
  const OptionCase viewControllers = {"enableUIViewControllerTracking",
                                      [](DozidiOptions& o) { o.enableUIViewControllerTracking = false; }};
  for (const auto& c : {kPerformance, interactions, kSwizzling, kTracing}) {
    SCOPED_TRACE(c.option);
    auto options = tracingOptions();
    c.turnOff(*options);
    DozidiUIEventTrackingIntegration integration;
    EXPECT_FALSE(integration.installWithOptions(*options));
    EXPECT_FALSE(integration.uiEventTracker());
    EXPECT_TRUE(log->contains(std::string("Not going to enable DozidiUIEventTrackingIntegration because ") + c.option +
                              " is disabled."));
  }
  for (const auto& c : {kPerformance, viewControllers, kSwizzling, kTracing}) {
    SCOPED_TRACE(c.option);
    auto options = tracingOptions();
    c.turnOff(*options);
    DozidiPerformanceTrackingIntegration integration;
    EXPECT_FALSE(integration.installWithOptions(*options));
    EXPECT_FALSE(integration.swizzling());
    EXPECT_TRUE(log->contains(std::string("Not going to enable DozidiPerformanceTrackingIntegration because ") +
                              c.option + " is disabled."));
  }
}

TEST_F(UIKitTracingIntegrationTests, WithEveryOptionOnBothInstall) {
  DozidiUIEventTrackingIntegration interactions;
  auto options = tracingOptions();
  options->idleTimeout = 5.0;
  ASSERT_TRUE(interactions.installWithOptions(*options));
  ASSERT_TRUE(interactions.uiEventTracker());
  EXPECT_EQ(interactions.uiEventTracker()->idleTimeout(), 5.0);
  interactions.uninstall();

  DozidiPerformanceTrackingIntegration viewControllers;
  EXPECT_TRUE(viewControllers.installWithOptions(*options));
  EXPECT_TRUE(viewControllers.swizzling());
}

}  // namespace
