#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppStateManager.h"

#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppState.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiSysctl.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"
#include "platform/foundation/DeviceFacts.h"

namespace {
std::string upperCased(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}
}  // namespace

DozidiAppStateManager::DozidiAppStateManager(std::optional<std::string> releaseName,
                                             std::shared_ptr<DozidiCrashWrapper> crashWrapper,
                                             std::shared_ptr<DozidiFileManager> fileManager,
                                             std::shared_ptr<DozidiSysctl> sysctl,
                                             std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue,
                                             std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter)
    : releaseName_(std::move(releaseName)),
      crashWrapper_(std::move(crashWrapper)),
      fileManager_(std::move(fileManager)),
      sysctl_(std::move(sysctl)),
      dispatchQueue_(std::move(dispatchQueue)),
      notificationCenter_(std::move(notificationCenter)) {}

DozidiAppStateManager::~DozidiAppStateManager() { notificationCenter_->removeObserver(this); }

void DozidiAppStateManager::start() {
  if (startCount_ == 0) {
    // The handlers hold the manager weakly: the center must not keep it alive.
    std::weak_ptr<DozidiAppStateManager> weak = weak_from_this();
    auto becameActive = [weak](const foundation::Notification&) {
      if (auto self = weak.lock()) self->updateAppStateInBackground([](DozidiAppState& state) { state.setIsActive(true); });
    };
    notificationCenter_->addObserver(this, DozidiNSNotificationCenterWrapper::didBecomeActiveNotificationName(), becameActive);
    notificationCenter_->addObserver(this, kHybridSdkDidBecomeActive, becameActive);
    notificationCenter_->addObserver(this, DozidiNSNotificationCenterWrapper::willResignActiveNotificationName(),
                                     [weak](const foundation::Notification&) {
                                       if (auto self = weak.lock())
                                         self->updateAppStateInBackground([](DozidiAppState& state) { state.setIsActive(false); });
                                     });
    notificationCenter_->addObserver(this, DozidiNSNotificationCenterWrapper::willTerminateNotificationName(),
                                     [weak](const foundation::Notification&) {
                                       if (auto self = weak.lock())
                                         self->updateAppState([](DozidiAppState& state) { state.setWasTerminated(true); });
                                     });
    storeCurrentAppState();
  }
  ++startCount_;
}

void DozidiAppStateManager::stop() {
  if (startCount_ < 1) return;
  if (--startCount_ == 0) notificationCenter_->removeObserver(this);
}

std::shared_ptr<DozidiAppState> DozidiAppStateManager::buildCurrentAppState() const {
  const foundation::DeviceFacts device = foundation::DeviceFacts::current();
  return std::make_shared<DozidiAppState>(releaseName_.value_or(""), device.systemVersion,
                                          upperCased(device.identifierForVendor.value_or("")),
                                          crashWrapper_->isBeingTraced(), sysctl_->systemBootTimestamp());
}

std::shared_ptr<DozidiAppState> DozidiAppStateManager::loadPreviousAppState() const {
  return fileManager_->readPreviousAppState();
}

void DozidiAppStateManager::storeCurrentAppState() { fileManager_->storeAppState(*buildCurrentAppState()); }

void DozidiAppStateManager::updateAppState(const std::function<void(DozidiAppState&)>& change) {
  std::lock_guard guard(lock_);
  std::shared_ptr<DozidiAppState> state = fileManager_->readAppState();
  if (!state) return;
  change(*state);
  fileManager_->storeAppState(*state);
}

void DozidiAppStateManager::updateAppStateInBackground(std::function<void(DozidiAppState&)> change) {
  std::weak_ptr<DozidiAppStateManager> weak = weak_from_this();
  dispatchQueue_->dispatchAsyncWithBlock([weak, change = std::move(change)] {
    if (auto self = weak.lock()) self->updateAppState(change);
  });
}
