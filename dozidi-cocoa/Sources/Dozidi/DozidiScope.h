#pragma once
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/foundation/Value.h"

/// Told of every change of a scope, so that a copy of the scope (the crash recorder's mirror, the
/// out-of-memory observer) follows it. Calls come one at a time, in the order the changes were made,
/// on a thread that changed the scope, and never while the scope holds a lock: an observer may read
/// or change the scope, and may wait for another thread that does.
class DozidiScopeObserver {
 public:
  virtual ~DozidiScopeObserver() = default;
  /// The whole extras dictionary after a change.
  virtual void setExtras(const foundation::Dictionary& extras) = 0;
};

/// The context the hub applies to every event. Any thread may use it: each collection has a lock of
/// its own, held only to change or copy the collection.
class DozidiScope {
 public:
  static std::shared_ptr<DozidiScope> create();

  /// Adds the entries of `extras` to the scope's extras (a key already present takes the new value,
  /// other extras stay), then hands the whole extras dictionary to every observer in the order they
  /// were added. No dictionary changes nothing and tells nobody. While another thread is telling the
  /// observers of earlier changes, that thread tells them of this one too, right after, and this
  /// call returns at once; a change an observer makes is told after the one being told.
  void setExtras(const std::optional<foundation::Dictionary>& extras);
  /// A copy of the extras, taken under their lock.
  foundation::Dictionary extras() const;

  /// Appends an observer; the scope holds it strongly, as the list of observers does on the platform.
  void addObserver(std::shared_ptr<DozidiScopeObserver> observer);

 private:
  DozidiScope() = default;
  std::vector<std::shared_ptr<DozidiScopeObserver>> observersCopy() const;
  void notifyObservers();

  mutable std::mutex extrasLock_;
  foundation::Dictionary extraDictionary_;
  std::deque<foundation::Dictionary> untoldExtras_;  ///< states observers are yet to be told of
  bool notifying_ = false;                          ///< a thread is telling observers
  mutable std::mutex observersLock_;
  std::vector<std::shared_ptr<DozidiScopeObserver>> observers_;
};
