#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanRecord.h"

#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiNoOpSpan.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiTime.h"

using foundation::Date;
using foundation::Dictionary;

DozidiSpanRecord::DozidiSpanRecord(const std::shared_ptr<DozidiTracer>& tracer,
                                   std::shared_ptr<DozidiSpanContext> context)
    : tracer_(tracer), context_(std::move(context)), startTimestamp_(DozidiCurrentDate::date()) {}

std::shared_ptr<DozidiSpanRecord> DozidiSpanRecord::initWithTracer(const std::shared_ptr<DozidiTracer>& tracer,
                                                                   std::shared_ptr<DozidiSpanContext> context) {
  DOZIDI_LOG_DEBUG("Created span " + context->spanId().value() + " for trace ID " +
                   (tracer ? tracer->context()->traceId().dozidiIdString() : context->traceId().dozidiIdString()));
  return std::shared_ptr<DozidiSpanRecord>(new DozidiSpanRecord(tracer, std::move(context)));
}

std::shared_ptr<DozidiSpan> DozidiSpanRecord::startChildWithOperation(const std::string& operation,
                                                                      std::optional<std::string> description) {
  if (auto owner = tracer_.lock()) return owner->startChildWithParentId(context_->spanId(), operation, std::move(description));
  DOZIDI_LOG_DEBUG("No tracer, returning no-op span");
  return DozidiNoOpSpan::shared();
}

void DozidiSpanRecord::setDataValue(foundation::Value value, const std::string& key) { data_.set(key, std::move(value)); }
void DozidiSpanRecord::removeDataForKey(const std::string& key) { data_.remove(key); }
std::optional<Dictionary> DozidiSpanRecord::data() const { return data_.copy(); }
void DozidiSpanRecord::setTagValue(std::optional<std::string> value, const std::string& key) {
  tags_.setText(key, std::move(value));
}
void DozidiSpanRecord::removeTagForKey(const std::string& key) { tags_.remove(key); }

void DozidiSpanRecord::setMeasurement(const std::string& name, foundation::Number value,
                                      std::shared_ptr<const DozidiMeasurementUnit> unit) {
  if (auto owner = tracer_.lock()) owner->setMeasurement(name, value, std::move(unit));
}

Dictionary DozidiSpanRecord::tags() const { return tags_.copy(); }

void DozidiSpanRecord::finishWithStatus(DozidiSpanStatus status) {
  context_->setStatus(status);
  finished_.store(true, std::memory_order_release);
  {
    std::lock_guard lock(datesLock_);
    if (!timestamp_) {
      timestamp_ = DozidiCurrentDate::date();
      DOZIDI_LOG_DEBUG("Setting span timestamp: " + std::to_string(timestamp_->timeIntervalSince1970()) +
                       " at system time " + std::to_string(getAbsoluteTime()));
    }
  }
  if (auto owner = tracer_.lock()) owner->spanFinished(*this);
}

Dictionary DozidiSpanRecord::serialize() const {
  Dictionary result = context_->serialize();
  {
    std::lock_guard lock(datesLock_);
    result.set("timestamp", timestamp_ ? timestamp_->timeIntervalSince1970() : 0.0);
    result.set("start_timestamp", startTimestamp_ ? startTimestamp_->timeIntervalSince1970() : 0.0);
  }
  if (auto data = data_.copy(); !data.empty()) result.set("data", dozidi_sanitize(data));
  if (auto own = tags_.copy(); !own.empty()) result.set("tags", detail::layOver(context_->tags(), own));
  return result;
}

std::optional<Date> DozidiSpanRecord::timestamp() const {
  std::lock_guard lock(datesLock_);
  return timestamp_;
}

void DozidiSpanRecord::setTimestamp(std::optional<Date> timestamp) {
  std::lock_guard lock(datesLock_);
  timestamp_ = timestamp;
}

std::optional<Date> DozidiSpanRecord::startTimestamp() const {
  std::lock_guard lock(datesLock_);
  return startTimestamp_;
}

void DozidiSpanRecord::setStartTimestamp(std::optional<Date> startTimestamp) {
  std::lock_guard lock(datesLock_);
  startTimestamp_ = startTimestamp;
}
