#pragma once
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/foundation/Value.h"

/// Told of every change of a scope, so that a copy of the scope (the crash recorder's mirror, the
/// out-of-memory observer) follows it. Calls arrive on the thread that changed the scope, while the
/// scope still holds the lock of the changed collection: an observer must not wait for another thread
/// that uses the same collection of the same scope.
class DozidiScopeObserver {
 public:
  virtual ~DozidiScopeObserver() = default;
  /// The whole extras dictionary after a change.
  virtual void setExtras(const foundation::Dictionary& extras) = 0;
};

/// The context the hub applies to every event. Any thread may use it: each collection has a lock of
/// its own (recursive, so that an observer may read the scope back on the same thread).
class DozidiScope {
 public:
  static std::shared_ptr<DozidiScope> create();

  /// Adds the entries of `extras` to the scope's extras (a key already present takes the new value,
  /// other extras stay), then hands the whole extras dictionary to every observer in the order they
  /// were added. No dictionary changes nothing and tells nobody.
  void setExtras(const std::optional<foundation::Dictionary>& extras);
  /// A copy of the extras, taken under their lock.
  foundation::Dictionary extras() const;

  /// Appends an observer; the scope holds it strongly, as the list of observers does on the platform.
  void addObserver(std::shared_ptr<DozidiScopeObserver> observer);

 private:
  DozidiScope() = default;
  std::vector<std::shared_ptr<DozidiScopeObserver>> observersCopy() const;

  mutable std::recursive_mutex extrasLock_;
  foundation::Dictionary extraDictionary_;
  mutable std::mutex observersLock_;
  std::vector<std::shared_ptr<DozidiScopeObserver>> observers_;
};
