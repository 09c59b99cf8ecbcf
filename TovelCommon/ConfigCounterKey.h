#pragma once
#include <cstdint>
#include <memory>
#include <string>

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
  /// Logs the first-time event when asked to and the count reads 0, then stores the count plus 1.
  /// The store is not synchronised here.
  void increment() const;
};

}  // namespace tovel
