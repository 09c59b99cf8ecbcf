#include "dozidi-cocoa/Sources/Dozidi/DozidiScope.h"

#include <utility>

std::shared_ptr<DozidiScope> DozidiScope::create() {
  return std::shared_ptr<DozidiScope>(new DozidiScope());
}

void DozidiScope::setExtras(const std::optional<foundation::Dictionary>& extras) {
  if (!extras) return;
  auto observers = observersCopy();
  std::lock_guard lock(extrasLock_);
  for (const auto& [key, value] : *extras) extraDictionary_.set(key, value);
  // Observers are told while the lock is held, so that every observer sees the changes in the order
  // they were made, even when several threads set extras at once.
  for (const auto& observer : observers) observer->setExtras(extraDictionary_);
}

foundation::Dictionary DozidiScope::extras() const {
  std::lock_guard lock(extrasLock_);
  return extraDictionary_;
}

void DozidiScope::addObserver(std::shared_ptr<DozidiScopeObserver> observer) {
  if (!observer) return;
  std::lock_guard lock(observersLock_);
  observers_.push_back(std::move(observer));
}

std::vector<std::shared_ptr<DozidiScopeObserver>> DozidiScope::observersCopy() const {
  std::lock_guard lock(observersLock_);
  return observers_;
}
