#include "dozidi-cocoa/Sources/Dozidi/OutOfMemory/DozidiOutOfMemoryTrackingIntegration.h"

#include <cstdlib>
#include <limits>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppState.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppStateManager.h"
#include "dozidi-cocoa/Sources/Dozidi/OutOfMemory/DozidiOutOfMemoryLogic.h"
#include "dozidi-cocoa/Sources/Dozidi/OutOfMemory/DozidiOutOfMemoryScopeObserver.h"
#include "dozidi-cocoa/Sources/Dozidi/OutOfMemory/DozidiOutOfMemoryTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"

DozidiOutOfMemoryTrackingIntegration::DozidiOutOfMemoryTrackingIntegration() {
  if (const char* path = std::getenv("XCTestConfigurationFilePath")) testConfigurationFilePath_ = path;
}

void DozidiOutOfMemoryTrackingIntegration::registerWithSDK() {
  DozidiSDK::registerIntegration(
      "DozidiOutOfMemoryTrackingIntegration", [] { return std::make_shared<DozidiOutOfMemoryTrackingIntegration>(); },
      [](const DozidiIntegration& integration) {
        return dynamic_cast<const DozidiOutOfMemoryTrackingIntegration*>(&integration) != nullptr;
      });
}

bool DozidiOutOfMemoryTrackingIntegration::installWithOptions(const DozidiOptions& options) {
  if (testConfigurationFilePath_) return false;
  if (!DozidiBaseIntegration::installWithOptions(options)) return false;
  auto client = DozidiSDK::currentHub()->getClient();
  auto container = DozidiDependencyContainer::sharedInstance();
  auto appStateManager = container->appStateManager();
  if (!client || !client->fileManager() || !appStateManager) return false;

  auto queue = DozidiDispatchQueueWrapper::initWithName("dozidi-out-of-memory-tracker");
  auto fileManager = client->fileManager();
  auto logic = std::make_shared<DozidiOutOfMemoryLogic>(client->options(), container->crashWrapper(), appStateManager);
  tracker_ = std::make_shared<DozidiOutOfMemoryTracker>(client->options(), std::move(logic), appStateManager, queue,
                                                         fileManager);
  tracker_->start();
  // Kept before listening: the hang callbacks read it on the watchdog and main threads.
  appStateManager_ = appStateManager;
  anrTracker_ = container->getANRTracker(options.appHangTimeoutInterval);
  anrTracker_->addListener(shared_from_this());

  const std::uint64_t max = options.maxBreadcrumbs;
  const auto limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  scopeObserver_ = std::make_shared<DozidiOutOfMemoryScopeObserver>(static_cast<std::int64_t>(max > limit ? limit : max),
                                                                    fileManager);
  DozidiSDK::currentHub()->configureScope([this](DozidiScope& scope) { scope.addObserver(scopeObserver_); });
  return true;
}

void DozidiOutOfMemoryTrackingIntegration::uninstall() {
  if (tracker_) tracker_->stop();
  if (anrTracker_) anrTracker_->removeListener(this);
}

void DozidiOutOfMemoryTrackingIntegration::anrDetected() {
  if (appStateManager_) appStateManager_->updateAppState([](DozidiAppState& state) { state.setIsANROngoing(true); });
}

void DozidiOutOfMemoryTrackingIntegration::anrStopped() {
  if (appStateManager_) appStateManager_->updateAppState([](DozidiAppState& state) { state.setIsANROngoing(false); });
}
