#include "dozidi-cocoa/Sources/Dozidi/Performance/Network/DozidiNetworkTrackingIntegration.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/Network/DozidiNSURLSessionTaskSearch.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/Network/DozidiNetworkTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzle.h"

using foundation::URLSessionTask;

namespace {

using ResumeMethod = void();
using SetStateMethod = void(URLSessionTask::State);

// The replacement keys: one per selector.
char kResumeKey;
char kSetStateKey;

using Info = std::shared_ptr<DozidiSwizzleInfo>;

}  // namespace

std::uint32_t DozidiNetworkTrackingIntegration::integrationOptions() const {
  return kIntegrationOptionIsTracingEnabled | kIntegrationOptionEnableAutoPerformanceTracking |
         kIntegrationOptionEnableNetworkTracking;
}

bool DozidiNetworkTrackingIntegration::installWithOptions(const DozidiOptions& options) {
  if (!options.enableSwizzling) {
    logWithOptionName("enableSwizzling");
    return false;
  }
  auto tracker = DozidiNetworkTracker::sharedInstance();
  if (shouldBeEnabledWithOptions(options)) tracker->enableNetworkTracking();
  if (options.enableNetworkBreadcrumbs) tracker->enableNetworkBreadcrumbs();
  if (options.enableCaptureFailedRequests) tracker->enableCaptureFailedRequests();
  if (!tracker->isNetworkTrackingEnabled() && !tracker->isNetworkBreadcrumbEnabled() &&
      !tracker->isCaptureFailedRequestsEnabled()) {
    return false;
  }
  swizzleURLSessionTask();
  return true;
}

void DozidiNetworkTrackingIntegration::uninstall() { DozidiNetworkTracker::sharedInstance()->disable(); }

void DozidiNetworkTrackingIntegration::swizzleURLSessionTask() {
  for (runtime::Class cls : DozidiNSURLSessionTaskSearch::urlSessionTaskClassesToTrack()) {
    DozidiSwizzle::swizzleInstanceMethod(
        URLSessionTask::resumeSelector(), cls,
        [](const Info& info) {
          return runtime::imp_implementationWithBlock<ResumeMethod>([info](runtime::Object* self) {
            if (auto* task = dynamic_cast<URLSessionTask*>(self)) {
              DozidiNetworkTracker::sharedInstance()->urlSessionTaskResume(*task);
            }
            if (const auto* original = info->getOriginalImplementationAs<ResumeMethod>()) original->call(self);
          });
        },
        DozidiSwizzleModeOncePerClassAndSuperclasses, &kResumeKey);
    DozidiSwizzle::swizzleInstanceMethod(
        URLSessionTask::setStateSelector(), cls,
        [](const Info& info) {
          return runtime::imp_implementationWithBlock<SetStateMethod>(
              [info](runtime::Object* self, URLSessionTask::State state) {
                if (auto* task = dynamic_cast<URLSessionTask*>(self)) {
                  DozidiNetworkTracker::sharedInstance()->urlSessionTaskSetState(*task, state);
                }
                if (const auto* original = info->getOriginalImplementationAs<SetStateMethod>()) {
                  original->call(self, state);
                }
              });
        },
        DozidiSwizzleModeOncePerClassAndSuperclasses, &kSetStateKey);
  }
}

void DozidiNetworkTrackingIntegration::registerWithSDK() {
  DozidiSDK::registerIntegration(
      "DozidiNetworkTrackingIntegration", [] { return std::make_shared<DozidiNetworkTrackingIntegration>(); },
      [](const DozidiIntegration& integration) {
        return dynamic_cast<const DozidiNetworkTrackingIntegration*>(&integration) != nullptr;
      });
}
