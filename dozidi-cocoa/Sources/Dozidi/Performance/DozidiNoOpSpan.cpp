#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiNoOpSpan.h"

DozidiNoOpSpan::DozidiNoOpSpan()
    : context_(DozidiSpanContext::initWithTraceId(DozidiId::empty(), DozidiSpanId::empty(), std::nullopt, "",
                                                  DozidiSampleDecision::Undecided)) {}

std::shared_ptr<DozidiNoOpSpan> DozidiNoOpSpan::shared() {
  static const std::shared_ptr<DozidiNoOpSpan> instance(new DozidiNoOpSpan());
  return instance;
}

std::optional<foundation::Date> DozidiNoOpSpan::timestamp() const {
  std::lock_guard lock(lock_);
  return timestamp_;
}

void DozidiNoOpSpan::setTimestamp(std::optional<foundation::Date> timestamp) {
  std::lock_guard lock(lock_);
  timestamp_ = timestamp;
}

std::optional<foundation::Date> DozidiNoOpSpan::startTimestamp() const {
  std::lock_guard lock(lock_);
  return startTimestamp_;
}

void DozidiNoOpSpan::setStartTimestamp(std::optional<foundation::Date> startTimestamp) {
  std::lock_guard lock(lock_);
  startTimestamp_ = startTimestamp;
}
