#pragma once
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEventLevel.h"
#include "platform/foundation/Value.h"

/// One entry of the trail of recent happenings that travels with an event. A plain mutable record
/// without a lock: filled on one thread, then shared read-only (the scope never changes a
/// breadcrumb it holds).
class DozidiBreadcrumb {
 public:
  /// Level info, category "default", timestamp now (the system's date, not the reporter's clock).
  static std::shared_ptr<DozidiBreadcrumb> create();
  static std::shared_ptr<DozidiBreadcrumb> initWithLevel(DozidiEventLevel level, std::string category);

  DozidiEventLevel level = DozidiEventLevel::Info;
  std::string category = "default";
  std::optional<foundation::Date> timestamp;
  std::optional<std::string> type;
  std::optional<std::string> message;
  std::optional<foundation::Dictionary> data;

  /// "level" (its name, "none" included), "timestamp" (ISO 8601 text), "category", "type",
  /// "message" and "data" (made JSON-safe), each only when set.
  foundation::Dictionary serialize() const;
  /// Equal when level, category, timestamp, type, message and data are all equal.
  bool isEqualToBreadcrumb(const DozidiBreadcrumb* other) const;
  /// Agrees with isEqualToBreadcrumb.
  std::size_t hash() const;
  /// "<DozidiBreadcrumb: <address>, <serialised dictionary>>"
  std::string description() const;

 private:
  DozidiBreadcrumb() = default;
};
