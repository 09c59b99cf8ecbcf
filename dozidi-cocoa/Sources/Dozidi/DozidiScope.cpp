#include "dozidi-cocoa/Sources/Dozidi/DozidiScope.h"

#include <utility>

std::shared_ptr<DozidiScope> DozidiScope::create() {
  return std::shared_ptr<DozidiScope>(new DozidiScope());
}

void DozidiScope::setExtras(const std::optional<foundation::Dictionary>& extras) {
  if (!extras) return;
  {
    std::lock_guard lock(extrasLock_);
    for (const auto& [key, value] : *extras) extraDictionary_.set(key, value);
    untoldExtras_.push_back(extraDictionary_);
    // One thread at a time tells the observers, so they see the changes in the order they were made.
    if (notifying_) return;
    notifying_ = true;
  }
  notifyObservers();
}

void DozidiScope::notifyObservers() {
  // The observers run without the lock: the crash recorder's mirror may wait on a thread that is
  // changing this scope, which must never wait for the mirror in turn.
  for (;;) {
    foundation::Dictionary state;
    {
      std::lock_guard lock(extrasLock_);
      if (untoldExtras_.empty()) {
        notifying_ = false;
        return;
      }
      state = std::move(untoldExtras_.front());
      untoldExtras_.pop_front();
    }
    for (const auto& observer : observersCopy()) observer->setExtras(state);
  }
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
