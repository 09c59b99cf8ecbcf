#include "dozidi-cocoa/Sources/Dozidi/AppHangs/DozidiANRTrackingIntegration.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiException.h"

namespace {

// The timeout in whole milliseconds, truncated toward zero and kept inside the integer's range.
long long wholeMilliseconds(double seconds) {
  const double ms = std::trunc(seconds * 1000);
  if (std::isnan(ms)) return 0;
  if (ms >= static_cast<double>(std::numeric_limits<long long>::max())) return std::numeric_limits<long long>::max();
  if (ms <= static_cast<double>(std::numeric_limits<long long>::min())) return std::numeric_limits<long long>::min();
  return static_cast<long long>(ms);
}

}  // namespace

void DozidiANRTrackingIntegration::registerWithSDK() {
  DozidiSDK::registerIntegration(
      "DozidiANRTrackingIntegration", [] { return std::make_shared<DozidiANRTrackingIntegration>(); },
      [](const DozidiIntegration& integration) {
        return dynamic_cast<const DozidiANRTrackingIntegration*>(&integration) != nullptr;
      });
}

bool DozidiANRTrackingIntegration::installWithOptions(const DozidiOptions& options) {
  if (!DozidiBaseIntegration::installWithOptions(options)) return false;
  timeoutInterval_ = options.appHangTimeoutInterval;
  tracker_ = DozidiDependencyContainer::sharedInstance()->getANRTracker(options.appHangTimeoutInterval);
  tracker_->addListener(shared_from_this());
  return true;
}

void DozidiANRTrackingIntegration::uninstall() {
  if (tracker_) tracker_->removeListener(this);
}

void DozidiANRTrackingIntegration::anrDetected() {
  auto client = DozidiSDK::currentHub()->getClient();
  std::vector<std::shared_ptr<DozidiThread>> threads;
  if (client && client->threadInspector()) threads = client->threadInspector()->getCurrentThreadsWithStackTrace();
  DozidiSDK::captureEvent(appHangEvent(timeoutInterval_, std::move(threads)));
}

std::shared_ptr<DozidiEvent> DozidiANRTrackingIntegration::appHangEvent(double timeoutInterval,
                                                                        std::vector<std::shared_ptr<DozidiThread>> threads) {
  const std::string message = "App hanging for at least " + std::to_string(wholeMilliseconds(timeoutInterval)) + " ms.";
  auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Error);
  auto exception = DozidiException::initWithValue(message, "App Hanging");
  exception->mechanism = DozidiMechanism::initWithType("AppHang");
  if (!threads.empty() && threads[0]) exception->stacktrace = threads[0]->stacktrace;
  for (std::size_t i = 0; i < threads.size(); ++i) {
    if (threads[i]) threads[i]->current = i == 0;
  }
  event->exceptions = std::vector<std::shared_ptr<DozidiException>>{exception};
  event->threads = std::move(threads);
  return event;
}
