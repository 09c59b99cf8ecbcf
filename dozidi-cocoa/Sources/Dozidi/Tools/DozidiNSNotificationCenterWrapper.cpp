#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"

#include <algorithm>

#include "platform/foundation/NotificationCenter.h"

using foundation::NotificationCenter;

std::shared_ptr<DozidiNSNotificationCenterWrapper> DozidiNSNotificationCenterWrapper::create() {
  return std::shared_ptr<DozidiNSNotificationCenterWrapper>(new DozidiNSNotificationCenterWrapper());
}

DozidiNSNotificationCenterWrapper::~DozidiNSNotificationCenterWrapper() = default;

void DozidiNSNotificationCenterWrapper::addObserver(const void* observer, std::string name, Handler handler) {
  std::lock_guard lock(lock_);
  const auto token = NotificationCenter::defaultCenter().addObserver(name, nullptr, std::move(handler));
  registrations_[observer].push_back({std::move(name), token});
}

void DozidiNSNotificationCenterWrapper::removeObserver(const void* observer, const std::string& name) {
  std::lock_guard lock(lock_);
  auto found = registrations_.find(observer);
  if (found == registrations_.end()) return;
  auto& list = found->second;
  std::erase_if(list, [&](const Registration& registration) {
    if (registration.name != name) return false;
    NotificationCenter::defaultCenter().removeObserver(registration.token);
    return true;
  });
  if (list.empty()) registrations_.erase(found);
}

void DozidiNSNotificationCenterWrapper::removeObserver(const void* observer) {
  std::lock_guard lock(lock_);
  auto found = registrations_.find(observer);
  if (found == registrations_.end()) return;
  for (const auto& registration : found->second) NotificationCenter::defaultCenter().removeObserver(registration.token);
  registrations_.erase(found);
}
