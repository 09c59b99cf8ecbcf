#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"

#include "dozidi-cocoa/Sources/Dozidi/AppHangs/DozidiANRTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppStateManager.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Screenshots/DozidiScreenshot.h"
#include "dozidi-cocoa/Sources/Dozidi/Screenshots/DozidiViewHierarchy.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiRandom.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiSysctl.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiUIApplication.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiUIDeviceWrapper.h"

namespace {

struct SharedContainer {
  std::mutex lock;
  std::shared_ptr<DozidiDependencyContainer> instance;
};

SharedContainer& shared() {
  static auto* s = new SharedContainer();
  return *s;
}

template <class T, class Make>
std::shared_ptr<T> lazily(std::recursive_mutex& lock, std::shared_ptr<T>& slot, Make make) {
  std::lock_guard guard(lock);
  if (!slot) slot = make();
  return slot;
}

template <class T>
void replace(std::recursive_mutex& lock, std::shared_ptr<T>& slot, std::shared_ptr<T> value) {
  std::lock_guard guard(lock);
  slot = std::move(value);
}

}  // namespace

std::shared_ptr<DozidiDependencyContainer> DozidiDependencyContainer::sharedInstance() {
  std::lock_guard lock(shared().lock);
  if (!shared().instance) shared().instance.reset(new DozidiDependencyContainer());
  return shared().instance;
}

void DozidiDependencyContainer::reset() {
  std::lock_guard lock(shared().lock);
  shared().instance.reset();
}

std::shared_ptr<DozidiRandom> DozidiDependencyContainer::random() {
  return lazily(lock_, random_, [] { return DozidiRandom::create(); });
}

void DozidiDependencyContainer::setRandom(std::shared_ptr<DozidiRandom> random) { replace(lock_, random_, std::move(random)); }

std::shared_ptr<DozidiDispatchQueueWrapper> DozidiDependencyContainer::dispatchQueueWrapper() {
  return lazily(lock_, dispatchQueueWrapper_, [] { return DozidiDispatchQueueWrapper::create(); });
}

void DozidiDependencyContainer::setDispatchQueueWrapper(std::shared_ptr<DozidiDispatchQueueWrapper> wrapper) {
  replace(lock_, dispatchQueueWrapper_, std::move(wrapper));
}

std::shared_ptr<DozidiNSNotificationCenterWrapper> DozidiDependencyContainer::notificationCenterWrapper() {
  return lazily(lock_, notificationCenterWrapper_, [] { return DozidiNSNotificationCenterWrapper::create(); });
}

void DozidiDependencyContainer::setNotificationCenterWrapper(std::shared_ptr<DozidiNSNotificationCenterWrapper> wrapper) {
  replace(lock_, notificationCenterWrapper_, std::move(wrapper));
}

std::shared_ptr<DozidiUIApplication> DozidiDependencyContainer::application() {
  return lazily(lock_, application_, [] { return DozidiUIApplication::create(); });
}

void DozidiDependencyContainer::setApplication(std::shared_ptr<DozidiUIApplication> application) {
  replace(lock_, application_, std::move(application));
}

std::shared_ptr<DozidiUIDeviceWrapper> DozidiDependencyContainer::uiDeviceWrapper() {
  {
    std::lock_guard guard(lock_);
    if (uiDeviceWrapper_) return uiDeviceWrapper_;
  }
  auto made = DozidiUIDeviceWrapper::initWithDispatchQueueWrapper(dispatchQueueWrapper());
  std::lock_guard guard(lock_);
  // Of two threads that made one at once, the first to come back wins; the other wrapper found
  // the device's switches already on, so dropping it turns nothing off.
  if (!uiDeviceWrapper_) uiDeviceWrapper_ = std::move(made);
  return uiDeviceWrapper_;
}

void DozidiDependencyContainer::setUIDeviceWrapper(std::shared_ptr<DozidiUIDeviceWrapper> wrapper) {
  replace(lock_, uiDeviceWrapper_, std::move(wrapper));
}

std::shared_ptr<DozidiScreenshot> DozidiDependencyContainer::screenshot() {
  return lazily(lock_, screenshot_, [this] { return DozidiScreenshot::create(application()); });
}

void DozidiDependencyContainer::setScreenshot(std::shared_ptr<DozidiScreenshot> screenshot) {
  replace(lock_, screenshot_, std::move(screenshot));
}

std::shared_ptr<DozidiViewHierarchy> DozidiDependencyContainer::viewHierarchy() {
  return lazily(lock_, viewHierarchy_, [this] { return DozidiViewHierarchy::create(application()); });
}

void DozidiDependencyContainer::setViewHierarchy(std::shared_ptr<DozidiViewHierarchy> viewHierarchy) {
  replace(lock_, viewHierarchy_, std::move(viewHierarchy));
}

std::shared_ptr<DozidiCrashWrapper> DozidiDependencyContainer::crashWrapper() {
  return lazily(lock_, crashWrapper_, [] { return DozidiCrashWrapper::sharedInstance(); });
}

void DozidiDependencyContainer::setCrashWrapper(std::shared_ptr<DozidiCrashWrapper> wrapper) {
  replace(lock_, crashWrapper_, std::move(wrapper));
}

std::shared_ptr<DozidiThreadWrapper> DozidiDependencyContainer::threadWrapper() {
  return lazily(lock_, threadWrapper_, [] { return std::make_shared<DozidiThreadWrapper>(); });
}

void DozidiDependencyContainer::setThreadWrapper(std::shared_ptr<DozidiThreadWrapper> wrapper) {
  replace(lock_, threadWrapper_, std::move(wrapper));
}

std::shared_ptr<DozidiAppStateManager> DozidiDependencyContainer::appStateManager() {
  std::lock_guard guard(lock_);
  if (appStateManager_) return appStateManager_;
  auto client = DozidiSDK::currentHub()->getClient();
  if (!client || !client->fileManager()) return nullptr;
  appStateManager_ = std::make_shared<DozidiAppStateManager>(
      client->options()->releaseName, crashWrapper(), client->fileManager(), std::make_shared<DozidiSysctl>(),
      dispatchQueueWrapper(), notificationCenterWrapper());
  return appStateManager_;
}

void DozidiDependencyContainer::setAppStateManager(std::shared_ptr<DozidiAppStateManager> manager) {
  replace(lock_, appStateManager_, std::move(manager));
}

std::shared_ptr<DozidiANRTracker> DozidiDependencyContainer::getANRTracker(double timeout) {
  std::lock_guard guard(lock_);
  if (!anrTracker_) {
    anrTracker_ = DozidiANRTracker::create(timeout, DozidiDefaultCurrentDateProvider::sharedInstance(), crashWrapper(),
                                           dispatchQueueWrapper(), threadWrapper());
  }
  return anrTracker_;
}
