#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanContext.h"

#include "dozidi-cocoa/Sources/Dozidi/Performance/detail/DozidiJSONText.h"
#include "platform/foundation/JSONSerialization.h"

using foundation::Dictionary;

const char* nameForDozidiSampleDecision(DozidiSampleDecision decision) {
  switch (decision) {
    case DozidiSampleDecision::Yes: return "true";
    case DozidiSampleDecision::No: return "false";
    default: return "undecided";
  }
}

const char* nameForDozidiSpanStatus(DozidiSpanStatus status) {
  static constexpr const char* kNames[] = {
      "undefined",         "ok",        "deadline_exceeded", "unauthenticated", "permission_denied", "not_found",
      "resource_exhausted", "invalid_argument", "unimplemented", "unavailable", "internal_error",    "unknown_error",
      "cancelled",         "already_exists", "failed_precondition", "aborted", "out_of_range",      "data_loss"};
  const auto index = static_cast<std::uint64_t>(status);
  return index < std::size(kNames) ? kNames[index] : "undefined";
}

DozidiSpanContext::DozidiSpanContext(Token, DozidiId traceId, DozidiSpanId spanId, std::optional<DozidiSpanId> parentId,
                                     std::string operation, DozidiSampleDecision sampled)
    : traceId_(std::move(traceId)),
      spanId_(std::move(spanId)),
      parentSpanId_(std::move(parentId)),
      sampled_(sampled),
      operation_(std::move(operation)) {}

std::shared_ptr<DozidiSpanContext> DozidiSpanContext::initWithOperation(std::string operation,
                                                                        DozidiSampleDecision sampled) {
  return initWithTraceId(DozidiId(), DozidiSpanId(), std::nullopt, std::move(operation), sampled);
}

std::shared_ptr<DozidiSpanContext> DozidiSpanContext::initWithTraceId(DozidiId traceId, DozidiSpanId spanId,
                                                                      std::optional<DozidiSpanId> parentId,
                                                                      std::string operation,
                                                                      DozidiSampleDecision sampled) {
  return std::make_shared<DozidiSpanContext>(Token(), std::move(traceId), std::move(spanId), std::move(parentId),
                                             std::move(operation), sampled);
}

std::optional<std::string> DozidiSpanContext::spanDescription() const {
  std::lock_guard lock(lock_);
  return description_;
}

void DozidiSpanContext::setSpanDescription(std::optional<std::string> description) {
  std::lock_guard lock(lock_);
  description_ = std::move(description);
}

void DozidiSpanContext::setTagValue(std::optional<std::string> value, const std::string& key) {
  tags_.setText(key, std::move(value));
}
void DozidiSpanContext::removeTagForKey(const std::string& key) { tags_.remove(key); }
Dictionary DozidiSpanContext::tags() const { return tags_.copy(); }

Dictionary DozidiSpanContext::serialize() const {
  Dictionary result;
  // Room for every key of a span at once (a span record adds its times, data and tags), so the
  // dictionary is allocated once.
  result.reserve(kSerializedSpanKeys);
  result.set("type", type);
  result.set("span_id", spanId_.view());
  result.set("trace_id", traceId_.dozidiIdString());
  result.set("op", operation_);
  if (auto t = tags(); !t.empty()) result.set("tags", std::move(t));
  if (const auto decision = sampled(); decision != DozidiSampleDecision::Undecided) {
    result.set("sampled", nameForDozidiSampleDecision(decision));
  }
  if (auto description = spanDescription()) result.set("description", std::move(*description));
  if (parentSpanId_) result.set("parent_span_id", parentSpanId_->value());
  if (const auto s = status(); s != DozidiSpanStatus::Undefined) result.set("status", nameForDozidiSpanStatus(s));
  return result;
}

bool DozidiSpanContext::appendJSONMembers(std::string& out, const Dictionary& tags) const {
  out += "\"type\":\"trace\",\"span_id\":\"";
  out += spanId_.view();
  out += "\",\"trace_id\":\"";
  traceId_.appendIdString(out);
  out += "\",";
  detail::appendJSONKey(out, "op");
  if (!detail::appendJSONString(out, operation_)) return false;
  if (!tags.empty()) {
    auto text = foundation::JSONSerialization::dataWithJSONObject(tags);
    if (!text) return false;
    out += ',';
    detail::appendJSONKey(out, "tags");
    out += *text;
  }
  if (const auto decision = sampled(); decision != DozidiSampleDecision::Undecided) {
    out += ",\"sampled\":\"";
    out += nameForDozidiSampleDecision(decision);
    out += '"';
  }
  {
    std::lock_guard lock(lock_);
    if (description_) {
      out += ',';
      detail::appendJSONKey(out, "description");
      if (!detail::appendJSONString(out, *description_)) return false;
    }
  }
  if (parentSpanId_) {
    out += ",\"parent_span_id\":\"";
    out += parentSpanId_->view();
    out += '"';
  }
  if (const auto s = status(); s != DozidiSpanStatus::Undefined) {
    out += ",\"status\":\"";
    out += nameForDozidiSpanStatus(s);
    out += '"';
  }
  return true;
}
