#include <gtest/gtest.h>

#include "NetworkTrackingFixture.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/Network/DozidiNSURLSessionTaskSearch.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/Network/DozidiNetworkTracker.h"

namespace {

using foundation::URLSessionTask;

/// The implementations "resume" and "setState:" of the task classes run now.
std::vector<runtime::IMP> taskImplementations() {
  std::vector<runtime::IMP> imps;
  for (const char* name : {"NSURLSessionTask", "NSURLSessionDataTask", "NSURLSessionDownloadTask"}) {
    runtime::Class cls = runtime::objc_getClass(name);
    imps.push_back(runtime::class_getMethodImplementation(cls, URLSessionTask::resumeSelector()));
    imps.push_back(runtime::class_getMethodImplementation(cls, URLSessionTask::setStateSelector()));
  }
  return imps;
}

using PerformanceNetworkIntegrationTests = performance_test::NetworkTrackingFixture;

TEST_F(PerformanceNetworkIntegrationTests, TheTaskBaseClassIsTheOneToPatch) {
  auto classes = DozidiNSURLSessionTaskSearch::urlSessionTaskClassesToTrack();
  ASSERT_EQ(classes.size(), 1u);
  EXPECT_STREQ(runtime::class_getName(classes[0]), "NSURLSessionTask");
}

// One test, because a replacement lasts for the process: first with the options off, then on.
TEST_F(PerformanceNetworkIntegrationTests, InstallsOnlyWithAnOptionOnAndReplacesOnce) {
  const auto original = taskImplementations();
  for (auto imp : original) ASSERT_NE(imp, nullptr);

  struct Case {
    const char* name;
    void (*configure)(DozidiOptions&);
  };
  const Case off[] = {
      {"all three off",
       [](DozidiOptions& o) { o.enableNetworkTracking = o.enableNetworkBreadcrumbs = o.enableCaptureFailedRequests = false; }},
      {"tracing off, no breadcrumbs or capture",
       [](DozidiOptions& o) {
         o.setTracesSampleRate(std::nullopt);
         o.enableNetworkBreadcrumbs = false;
       }},
      {"everything on but swizzling",
       [](DozidiOptions& o) { o.enableCaptureFailedRequests = true, o.enableSwizzling = false; }},
  };
  for (const auto& c : off) {
    SCOPED_TRACE(c.name);
    auto o = DozidiOptions::create();
    o->setDsn(options->dsn());
    o->setTracesSampleRate(1.0);
    c.configure(*o);
    EXPECT_FALSE(integration.installWithOptions(*o));
    EXPECT_EQ(taskImplementations(), original);
    auto tracker = DozidiNetworkTracker::sharedInstance();
    EXPECT_FALSE(tracker->isNetworkTrackingEnabled() || tracker->isNetworkBreadcrumbEnabled() ||
                 tracker->isCaptureFailedRequestsEnabled());
  }

  install();
  const auto replaced = taskImplementations();
  EXPECT_NE(replaced[0], original[0]);
  EXPECT_NE(replaced[1], original[1]);
  integration.uninstall();
  install();
  EXPECT_EQ(taskImplementations(), replaced);

  // Uninstalled, the replaced methods only pass through: the load still works, untraced.
  integration.uninstall();
  auto transaction = bindTransaction();
  auto outcome = run("/p");
  ASSERT_FALSE(outcome.error);
  EXPECT_EQ(received("/p").count("dozidi-trace"), 0u);
  EXPECT_TRUE(httpSpans(*transaction).empty());
  EXPECT_TRUE(hub->scope()->breadcrumbs().empty());
}

}  // namespace
