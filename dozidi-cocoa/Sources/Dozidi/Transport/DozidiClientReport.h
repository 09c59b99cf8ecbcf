#pragma once
#include <cstdint>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiDataCategory.h"
#include "platform/foundation/Value.h"

/// How many items of one category were lost for one reason. Immutable.
class DozidiDiscardedEvent {
 public:
  DozidiDiscardedEvent(DozidiDiscardReason reason, DozidiDataCategory category, std::uint64_t quantity)
      : reason_(reason), category_(category), quantity_(quantity) {}
  DozidiDiscardReason reason() const { return reason_; }
  DozidiDataCategory category() const { return category_; }
  std::uint64_t quantity() const { return quantity_; }
  /// {"reason": name, "category": name, "quantity": count}
  foundation::Dictionary serialize() const;

 private:
  DozidiDiscardReason reason_;
  DozidiDataCategory category_;
  std::uint64_t quantity_;
};

/// The counts of lost items sent back to the service as a "client_report" item. Immutable.
class DozidiClientReport {
 public:
  /// Timestamp: the reporter's clock now.
  explicit DozidiClientReport(std::vector<DozidiDiscardedEvent> discardedEvents);
  foundation::Date timestamp() const { return timestamp_; }
  const std::vector<DozidiDiscardedEvent>& discardedEvents() const { return discardedEvents_; }
  /// {"timestamp": seconds since 1970, "discarded_events": [...]} in the report's order.
  foundation::Dictionary serialize() const;

 private:
  foundation::Date timestamp_;
  std::vector<DozidiDiscardedEvent> discardedEvents_;
};
