#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/foundation/Result.h"

namespace foundation {
class UserDefaults;
}

namespace tovel {

class AnalyticsTracker;

/// A named, persistent count of how often something happened, kept in a settings store under
/// `name` + "Count"; optionally reports the very first occurrence as the event "1st_" + `name`.
struct ConfigCounterKey {
  std::string name;
  bool trackFirstEver = false;
  std::shared_ptr<foundation::UserDefaults> userDefaults;
  std::shared_ptr<AnalyticsTracker> analytics;

  /// The stored count; 0 when none was ever written.
  std::int64_t count() const;
  /// Stores the count plus 1 as one step of the store, so that no increment of another process is
  /// lost; then logs the first-time event when asked to and the count it raised was 0. Errors: the
  /// store could not write the count (nothing is logged then).
  foundation::Result<void> increment() const;
};

}  // namespace tovel
