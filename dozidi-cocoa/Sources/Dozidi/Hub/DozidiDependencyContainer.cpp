#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiRandom.h"

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
