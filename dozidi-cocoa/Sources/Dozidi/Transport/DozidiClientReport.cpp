#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiClientReport.h"

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"

using foundation::Array;
using foundation::Dictionary;

Dictionary DozidiDiscardedEvent::serialize() const {
  return Dictionary{{"reason", nameForDozidiDiscardReason(reason_)},
                    {"category", nameForDozidiDataCategory(category_)},
                    {"quantity", quantity_}};
}

DozidiClientReport::DozidiClientReport(std::vector<DozidiDiscardedEvent> discardedEvents)
    : timestamp_(DozidiCurrentDate::date()), discardedEvents_(std::move(discardedEvents)) {}

Dictionary DozidiClientReport::serialize() const {
  Array events;
  for (const auto& event : discardedEvents_) events.push_back(event.serialize());
  return Dictionary{{"timestamp", timestamp_.timeIntervalSince1970()}, {"discarded_events", std::move(events)}};
}
