#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSessionTracker.h"

#include <utility>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/OutOfMemory/DozidiOutOfMemoryLogic.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSession.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"

namespace {

std::shared_ptr<DozidiFileManager> currentFileManager() {
  auto client = DozidiSDK::currentHub()->getClient();
  return client ? client->fileManager() : nullptr;
}

}  // namespace

DozidiSessionTracker::DozidiSessionTracker(std::shared_ptr<const DozidiOptions> options,
                                           std::shared_ptr<DozidiCurrentDateProvider> currentDateProvider,
                                           std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter)
    : options_(std::move(options)),
      currentDateProvider_(std::move(currentDateProvider)),
      notificationCenter_(std::move(notificationCenter)) {}

DozidiSessionTracker::~DozidiSessionTracker() {
  stop();
  notificationCenter_->removeObserver(this);
}

void DozidiSessionTracker::start() {
  endCachedSession();
  notificationCenter_->addObserver(this, DozidiNSNotificationCenterWrapper::didBecomeActiveNotificationName(),
                                   [this](const foundation::Notification&) { didBecomeActive(); });
  notificationCenter_->addObserver(this, kHybridSdkDidBecomeActive,
                                   [this](const foundation::Notification&) { didBecomeActive(); });
  notificationCenter_->addObserver(this, DozidiNSNotificationCenterWrapper::willResignActiveNotificationName(),
                                   [this](const foundation::Notification&) { willResignActive(); });
  notificationCenter_->addObserver(this, DozidiNSNotificationCenterWrapper::willTerminateNotificationName(),
                                   [this](const foundation::Notification&) { willTerminate(); });
}

void DozidiSessionTracker::stop() {
  notificationCenter_->removeObserver(this, DozidiNSNotificationCenterWrapper::didBecomeActiveNotificationName());
  notificationCenter_->removeObserver(this, kHybridSdkDidBecomeActive);
  notificationCenter_->removeObserver(this, DozidiNSNotificationCenterWrapper::willResignActiveNotificationName());
  notificationCenter_->removeObserver(this, DozidiNSNotificationCenterWrapper::willTerminateNotificationName());
}

void DozidiSessionTracker::endCachedSession() {
  std::optional<foundation::Date> lastInForeground;
  if (auto fileManager = currentFileManager()) {
    lastInForeground = fileManager->readTimestampLastInForeground();
    if (lastInForeground) fileManager->deleteTimestampLastInForeground();
  }
  DozidiSDK::currentHub()->closeCachedSessionWithTimestamp(lastInForeground);
}

void DozidiSessionTracker::didBecomeActive() {
  {
    std::lock_guard lock(lock_);
    if (wasDidBecomeActiveCalled_) return;
    wasDidBecomeActiveCalled_ = true;
  }
  auto hub = DozidiSDK::currentHub();
  auto fileManager = currentFileManager();
  std::optional<foundation::Date> lastInForeground = fileManager ? fileManager->readTimestampLastInForeground() : std::nullopt;
  {
    std::lock_guard lock(lock_);
    lastInForeground_ = lastInForeground;
  }
  if (!lastInForeground) {
    hub->startSession();
  } else {
    const double awayMillis = currentDateProvider_->date().timeIntervalSince(*lastInForeground) * 1000;
    if (awayMillis >= static_cast<double>(options_->sessionTrackingIntervalMillis)) {
      hub->endSessionWithTimestamp(*lastInForeground);
      hub->startSession();
    }
  }
  if (fileManager) fileManager->deleteTimestampLastInForeground();
  std::lock_guard lock(lock_);
  lastInForeground_.reset();
}

void DozidiSessionTracker::willResignActive() {
  const auto now = currentDateProvider_->date();
  {
    std::lock_guard lock(lock_);
    lastInForeground_ = now;
    wasDidBecomeActiveCalled_ = false;
  }
  if (auto fileManager = currentFileManager()) fileManager->storeTimestampLastInForeground(now);
}

void DozidiSessionTracker::willTerminate() {
  foundation::Date end = currentDateProvider_->date();
  {
    std::lock_guard lock(lock_);
    if (lastInForeground_) end = *lastInForeground_;
    wasDidBecomeActiveCalled_ = false;
  }
  DozidiSDK::currentHub()->endSessionWithTimestamp(end);
  if (auto fileManager = currentFileManager()) fileManager->deleteTimestampLastInForeground();
}

DozidiSessionCrashedHandler::DozidiSessionCrashedHandler(std::shared_ptr<DozidiCrashWrapper> crashWrapper,
                                                         std::shared_ptr<DozidiOutOfMemoryLogic> outOfMemoryLogic)
    : crashWrapper_(std::move(crashWrapper)), outOfMemoryLogic_(std::move(outOfMemoryLogic)) {}

void DozidiSessionCrashedHandler::endCurrentSessionAsCrashedWhenCrashOrOOM() {
  const bool oom = outOfMemoryLogic_ && outOfMemoryLogic_->isOOM();
  if (!crashWrapper_->crashedLastLaunch() && !oom) return;
  auto fileManager = currentFileManager();
  if (!fileManager) return;
  auto session = fileManager->readCurrentSession();
  if (!session) return;
  session->endSessionCrashedWithTimestamp(DozidiCurrentDate::date().addingTimeInterval(-crashWrapper_->activeDurationSinceLastCrash()));
  fileManager->storeCrashedSession(*session);
  fileManager->deleteCurrentSession();
}

bool DozidiAutoSessionTrackingIntegration::installWithOptions(const DozidiOptions& options) {
  if (!shouldBeEnabledWithOptions(options)) return false;
  auto shared = DozidiSDK::options();
  tracker_ = std::make_unique<DozidiSessionTracker>(shared, DozidiDefaultCurrentDateProvider::sharedInstance(),
                                                    DozidiDependencyContainer::sharedInstance()->notificationCenterWrapper());
  tracker_->start();
  return true;
}

void DozidiAutoSessionTrackingIntegration::uninstall() {
  if (tracker_) tracker_->stop();
  tracker_.reset();
}
