#include "dozidi-cocoa/Sources/Dozidi/Performance/AppStart/DozidiAppStartTracker.h"

#include <cstdlib>
#include <cstring>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/PrivateDozidiSDKOnly.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppState.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppStateManager.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiSysctl.h"
#include "platform/dispatch/Once.h"
#include "platform/foundation/NotificationCenter.h"

using foundation::Date;

namespace {

bool environmentSaysPrewarmed() {
  const char* value = std::getenv("ActivePrewarm");
  return value && std::strcmp(value, "1") == 0;
}

/// What the library's load fixed for the whole process.
struct LoadState {
  std::mutex lock;
  // The library's load date, taken before any of its ordinary initializers (this one among them) ran.
  Date runtimeInit = DozidiSysctl().runtimeInitTimestamp();
  bool activePrewarm = environmentSaysPrewarmed();
  dispatch::OnceFlag measuredOnce;
};

// Made while the library loads (the counterpart of the class's load hook) and never destroyed.
LoadState& loadState() {
  static auto* state = new LoadState();
  return *state;
}
[[maybe_unused]] const LoadState& gLoadedAtStart = loadState();

}  // namespace

std::shared_ptr<DozidiAppStartTracker> DozidiAppStartTracker::create(
    std::shared_ptr<DozidiCurrentDateProvider> currentDate, std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue,
    std::shared_ptr<DozidiAppStateManager> appStateManager, std::shared_ptr<DozidiSysctl> sysctl,
    bool enablePreWarmedAppStartTracking, std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter) {
  std::shared_ptr<DozidiAppStartTracker> tracker(new DozidiAppStartTracker());
  tracker->currentDate_ = std::move(currentDate);
  tracker->dispatchQueue_ = std::move(dispatchQueue);
  tracker->appStateManager_ = std::move(appStateManager);
  tracker->sysctl_ = std::move(sysctl);
  tracker->enablePreWarmedAppStartTracking_ = enablePreWarmedAppStartTracking;
  tracker->notificationCenter_ = std::move(notificationCenter);
  if (tracker->appStateManager_) tracker->previousAppState_ = tracker->appStateManager_->loadPreviousAppState();
  tracker->didFinishLaunchingTimestamp_ = tracker->currentDate_->date();
  return tracker;
}

DozidiAppStartTracker::~DozidiAppStartTracker() {
  stop();
  notificationCenter_->removeObserver(this);
}

void DozidiAppStartTracker::start() {
  {
    std::lock_guard guard(lock_);
    didFinishLaunchingTimestamp_ = currentDate_->date();
  }
  // The handlers hold the tracker weakly: the centre must not keep it alive.
  std::weak_ptr<DozidiAppStartTracker> weak = weak_from_this();
  notificationCenter_->addObserver(this, kDozidiDidFinishLaunchingNotification, [weak](const foundation::Notification&) {
    if (auto self = weak.lock()) self->didFinishLaunching();
  });
  notificationCenter_->addObserver(this, kDozidiWindowDidBecomeVisibleNotification, [weak](const foundation::Notification&) {
    if (auto self = weak.lock()) self->buildAppStartMeasurement();
  });
  notificationCenter_->addObserver(this, kDozidiDidEnterBackgroundNotification, [weak](const foundation::Notification&) {
    if (auto self = weak.lock()) self->didEnterBackground();
  });
  if (PrivateDozidiSDKOnly::appStartMeasurementHybridSDKMode()) buildAppStartMeasurement();
  if (appStateManager_) appStateManager_->start();
}

void DozidiAppStartTracker::stop() {
  notificationCenter_->removeObserver(this, kDozidiDidFinishLaunchingNotification);
  notificationCenter_->removeObserver(this, kDozidiWindowDidBecomeVisibleNotification);
  notificationCenter_->removeObserver(this, kDozidiDidEnterBackgroundNotification);
}

void DozidiAppStartTracker::didFinishLaunching() {
  std::lock_guard guard(lock_);
  didFinishLaunchingTimestamp_ = currentDate_->date();
}

void DozidiAppStartTracker::didEnterBackground() { wasInBackground_.store(true); }

void DozidiAppStartTracker::buildAppStartMeasurement() {
  dispatchQueue_->dispatchOnce(loadState().measuredOnce, [this] { measure(); });
}

DozidiAppStartType DozidiAppStartTracker::getStartType() const {
  if (!previousAppState_ || !appStateManager_) return DozidiAppStartType::Cold;
  auto current = appStateManager_->buildCurrentAppState();
  if (!current || previousAppState_->releaseName() != current->releaseName()) return DozidiAppStartType::Cold;
  const double interval =
      previousAppState_->systemBootTimestamp().timeIntervalSince(current->systemBootTimestamp());
  if (interval < 0) return DozidiAppStartType::Cold;  // the device rebooted since
  if (interval == 0) return DozidiAppStartType::Warm;
  return DozidiAppStartType::Unknown;
}

void DozidiAppStartTracker::measure() {
  stop();
  const bool prewarmed = isActivePrewarmAvailable() && activePrewarm();
  if (prewarmed) {
    DOZIDI_LOG_INFO("The app was prewarmed.");
    if (!enablePreWarmedAppStartTracking_) {
      DOZIDI_LOG_INFO("EnablePreWarmedAppStartTracking disabled. Not measuring app start.");
      return;
    }
  }
  const auto type = getStartType();
  if (type == DozidiAppStartType::Unknown) {
    DOZIDI_LOG_WARN("Unknown start type. Not measuring app start.");
    return;
  }
  if (wasInBackground_.load()) {
    DOZIDI_LOG_INFO("App was in background. Not measuring app start.");
    return;
  }
  const Date startDate = prewarmed ? sysctl_->moduleInitializationTimestamp() : sysctl_->processStartTimestamp();
  double duration = currentDate_->date().timeIntervalSince(startDate);
  if (duration >= kMaxAppStartDuration) {
    DOZIDI_LOG_INFO("The app start exceeded the max duration of " + std::to_string(kMaxAppStartDuration) +
                    " seconds. Not measuring app start.");
    return;
  }
  Date didFinishLaunching;
  {
    std::lock_guard guard(lock_);
    didFinishLaunching = didFinishLaunchingTimestamp_;
  }
  if (PrivateDozidiSDKOnly::appStartMeasurementHybridSDKMode()) {
    didFinishLaunching = Date::referenceDate();
    duration = 0;
  }
  DozidiSDK::setAppStartMeasurement(std::make_shared<const DozidiAppStartMeasurement>(
      DozidiAppStartMeasurement::initWithType(type, prewarmed, startDate, duration, runtimeInit(),
                                              sysctl_->moduleInitializationTimestamp(), didFinishLaunching)));
}

void DozidiAppStartTracker::setRuntimeInit(Date date) {
  std::lock_guard guard(loadState().lock);
  loadState().runtimeInit = date;
}

Date DozidiAppStartTracker::runtimeInit() {
  std::lock_guard guard(loadState().lock);
  return loadState().runtimeInit;
}

bool DozidiAppStartTracker::activePrewarm() {
  std::lock_guard guard(loadState().lock);
  return loadState().activePrewarm;
}

void DozidiAppStartTracker::setActivePrewarm(bool value) {
  std::lock_guard guard(loadState().lock);
  loadState().activePrewarm = value;
}

void DozidiAppStartTracker::resetMeasuredOnce() { loadState().measuredOnce.reset(); }

// Integration --------------------------------------------------------------------------------

void DozidiAppStartTrackingIntegration::registerWithSDK() {
  DozidiSDK::registerIntegration(
      "DozidiAppStartTrackingIntegration", [] { return std::make_shared<DozidiAppStartTrackingIntegration>(); },
      [](const DozidiIntegration& integration) {
        return dynamic_cast<const DozidiAppStartTrackingIntegration*>(&integration) != nullptr;
      });
}

bool DozidiAppStartTrackingIntegration::installWithOptions(const DozidiOptions& options) {
  if (!PrivateDozidiSDKOnly::appStartMeasurementHybridSDKMode() && !DozidiBaseIntegration::installWithOptions(options))
    return false;
  auto dispatchQueue = DozidiDispatchQueueWrapper::create();
  auto notificationCenter = DozidiDependencyContainer::sharedInstance()->notificationCenterWrapper();
  // The start type compares this run's app state with the previous run's, which the SDK's start
  // moved aside; without a file manager (no DSN) every start counts as cold.
  std::shared_ptr<DozidiAppStateManager> appStateManager;
  if (auto client = DozidiSDK::currentHub()->getClient(); client && client->fileManager()) {
    appStateManager = std::make_shared<DozidiAppStateManager>(options.releaseName, DozidiCrashWrapper::sharedInstance(),
                                                              client->fileManager(), std::make_shared<DozidiSysctl>(),
                                                              dispatchQueue, notificationCenter);
  }
  tracker_ = DozidiAppStartTracker::create(DozidiDefaultCurrentDateProvider::sharedInstance(), std::move(dispatchQueue),
                                           std::move(appStateManager), std::make_shared<DozidiSysctl>(),
                                           options.enablePreWarmedAppStartTracking, std::move(notificationCenter));
  tracker_->start();
  return true;
}

void DozidiAppStartTrackingIntegration::uninstall() { stop(); }

void DozidiAppStartTrackingIntegration::stop() {
  if (tracker_) tracker_->stop();
}
