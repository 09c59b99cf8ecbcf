#pragma once
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/foundation/Value.h"

namespace detail {

/// A dictionary shared between threads that is its own lock: every read, change and copy holds
/// it. Used for the data and tags of spans, span contexts and tracers.
class DozidiLockedDictionary {
 public:
  /// An absent value removes the key.
  void set(const std::string& key, foundation::Value value) {
    std::lock_guard lock(lock_);
    dictionary_.set(key, std::move(value));
  }
  /// A none value removes the key.
  void setText(const std::string& key, std::optional<std::string> value) {
    std::lock_guard lock(lock_);
    if (value) {
      dictionary_.set(key, std::move(*value));
    } else {
      dictionary_.remove(key);
    }
  }
  void remove(const std::string& key) {
    std::lock_guard lock(lock_);
    dictionary_.remove(key);
  }
  foundation::Dictionary copy() const {
    std::lock_guard lock(lock_);
    return dictionary_;
  }

 private:
  mutable std::mutex lock_;
  foundation::Dictionary dictionary_;
};

/// `base` with the entries of `over` laid over it (equal keys take `over`'s value).
inline foundation::Dictionary layOver(foundation::Dictionary base, const foundation::Dictionary& over) {
  for (const auto& [key, value] : over) base.set(key, value);
  return base;
}

}  // namespace detail
