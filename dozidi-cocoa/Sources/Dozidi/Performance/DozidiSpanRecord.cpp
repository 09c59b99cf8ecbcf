#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanRecord.h"

#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiNoOpSpan.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/detail/DozidiJSONText.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiTime.h"
#include "platform/foundation/JSONSerialization.h"

using foundation::Date;
using foundation::Dictionary;
using foundation::Value;

namespace {

/// True when the JSON-safe copy of `data` would be `data` itself: strings and numbers only, and
/// no key of the reserved kind the copy leaves out (all begin with "__").
bool holdsOnlyPlainValues(const Dictionary& data) {
  for (const auto& [key, value] : data) {
    if (key.starts_with("__")) return false;
    if (value.kind() != Value::Kind::String && value.kind() != Value::Kind::Number) return false;
  }
  return true;
}

/// Appends the JSON-safe copy of a span's data. Plain data, what spans mostly carry, is written
/// as it stands; anything else is made JSON-safe and written by the platform's writer.
bool appendData(std::string& out, const Dictionary& data) {
  if (!holdsOnlyPlainValues(data)) {
    auto text = foundation::JSONSerialization::dataWithJSONObject(dozidi_sanitize(data));
    if (!text) return false;
    out += *text;
    return true;
  }
  out += '{';
  bool first = true;
  for (const auto& [key, value] : data) {
    if (!first) out += ',';
    first = false;
    if (!detail::appendJSONString(out, key)) return false;
    out += ':';
    const bool written = value.string() ? detail::appendJSONString(out, *value.string())
                                        : detail::appendJSONNumber(out, *value.number());
    if (!written) return false;
  }
  out += '}';
  return true;
}

}  // namespace

DozidiSpanRecord::DozidiSpanRecord(Token, const std::shared_ptr<DozidiTracer>& tracer,
                                   std::shared_ptr<DozidiSpanContext> context)
    : tracer_(tracer), context_(std::move(context)), startTimestamp_(DozidiCurrentDate::date()) {}

std::shared_ptr<DozidiSpanRecord> DozidiSpanRecord::initWithTracer(const std::shared_ptr<DozidiTracer>& tracer,
                                                                   std::shared_ptr<DozidiSpanContext> context) {
  DOZIDI_LOG_DEBUG("Created span " + context->spanId().value() + " for trace ID " +
                   (tracer ? tracer->context()->traceId().dozidiIdString() : context->traceId().dozidiIdString()));
  return std::make_shared<DozidiSpanRecord>(Token(), tracer, std::move(context));
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

bool DozidiSpanRecord::appendJSON(std::string& out) const {
  // The members and their order are those of `serialize`: the context's, the two times, the
  // data, and the tags at the context's place when it has tags of its own, else last.
  const Dictionary contextTags = context_->tags();
  const Dictionary own = tags_.copy();
  const Dictionary tagsInPlace = contextTags.empty() || own.empty() ? contextTags : detail::layOver(contextTags, own);
  out += '{';
  if (!context_->appendJSONMembers(out, tagsInPlace)) return false;
  double end = 0;
  double start = 0;
  {
    std::lock_guard lock(datesLock_);
    if (timestamp_) end = timestamp_->timeIntervalSince1970();
    if (startTimestamp_) start = startTimestamp_->timeIntervalSince1970();
  }
  out += ",\"timestamp\":";
  if (!detail::appendJSONDouble(out, end)) return false;
  out += ",\"start_timestamp\":";
  if (!detail::appendJSONDouble(out, start)) return false;
  if (auto data = data_.copy(); !data.empty()) {
    out += ",\"data\":";
    if (!appendData(out, data)) return false;
  }
  if (contextTags.empty() && !own.empty()) {
    auto text = foundation::JSONSerialization::dataWithJSONObject(own);
    if (!text) return false;
    out += ",\"tags\":";
    out += *text;
  }
  out += '}';
  return true;
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
