#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTransaction.h"

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanRecord.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMeasurementUnit.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "platform/foundation/JSONSerialization.h"

using foundation::Array;
using foundation::Data;
using foundation::Dictionary;

namespace {

/// About the length of one span's text with an operation, a description and a little data: room
/// reserved ahead, so that the text grows in few steps.
constexpr std::size_t kTextPerSpan = 384;

}  // namespace

std::shared_ptr<DozidiTransaction> DozidiTransaction::initWithTrace(
    std::shared_ptr<DozidiTracer> trace, std::vector<std::shared_ptr<DozidiSpanRecord>> children) {
  auto transaction = std::shared_ptr<DozidiTransaction>(new DozidiTransaction());
  transaction->timestamp = trace->timestamp();
  transaction->startTimestamp = trace->startTimestamp();
  transaction->type = "transaction";
  transaction->trace_ = std::move(trace);
  transaction->spans_ = std::move(children);
  return transaction;
}

const char* DozidiTransaction::stringForNameSource(DozidiTransactionNameSource source) {
  switch (source) {
    case DozidiTransactionNameSource::Url: return "url";
    case DozidiTransactionNameSource::Route: return "route";
    case DozidiTransactionNameSource::View: return "view";
    case DozidiTransactionNameSource::Component: return "component";
    case DozidiTransactionNameSource::Task: return "task";
    default: return "custom";
  }
}

Dictionary DozidiTransaction::serialize() {
  Dictionary result = serializeWithoutSpans();
  Array spans;
  spans.reserve(spans_.size());
  for (const auto& span : spans_) spans.push_back(span->serialize());
  result.set("spans", std::move(spans));
  return result;
}

std::optional<Data> DozidiTransaction::jsonData(foundation::Error* error) {
  // The dictionary's text, its closing brace replaced by the spans' member written in place.
  auto text = foundation::JSONSerialization::dataWithJSONObject(serializeWithoutSpans());
  if (text && text->size() >= 2 && text->back() == '}') {
    std::string out = std::move(*text);
    out.pop_back();
    out.reserve(out.size() + spans_.size() * kTextPerSpan + 16);
    out += out.size() > 1 ? ",\"spans\":[" : "\"spans\":[";
    bool written = true;
    for (std::size_t i = 0; i < spans_.size() && written; ++i) {
      if (i > 0) out += ',';
      written = spans_[i]->appendJSON(out);
    }
    if (written) {
      out += "]}";
      return Data(std::move(out));
    }
  }
  // JSON cannot hold some part: the whole dictionary's writer names it in the error and the log.
  return DozidiEvent::jsonData(error);
}

Dictionary DozidiTransaction::serializeWithoutSpans() {
  Dictionary result = DozidiEvent::serialize();

  Dictionary contexts;
  if (const auto* existing = result["contexts"].dictionary()) contexts = *existing;
  if (trace_) contexts.set("trace", trace_->serialize());
  result.set("contexts", std::move(contexts));

  Dictionary traceTags = trace_ ? detail::layOver(dozidi_sanitize(trace_->tags()), dozidi_sanitize(trace_->context()->tags()))
                                : Dictionary();
  const auto* eventTags = result["tags"].dictionary();
  result.set("tags", eventTags ? detail::layOver(*eventTags, traceTags) : std::move(traceTags));

  Dictionary traceData = trace_ ? dozidi_sanitize(trace_->data().value_or(Dictionary())) : Dictionary();
  const auto* eventExtra = result["extra"].dictionary();
  result.set("extra", eventExtra ? detail::layOver(*eventExtra, traceData) : std::move(traceData));

  if (!trace_) return result;
  if (auto measurements = trace_->measurements(); !measurements.empty()) {
    Dictionary serialized;
    for (const auto& [name, value] : measurements) serialized.set(name, value->serialize());
    result.set("measurements", std::move(serialized));
  }
  result.set("transaction", trace_->transactionContext()->name());
  result.set("transaction_info",
             Dictionary{{"source", stringForNameSource(trace_->transactionContext()->nameSource())}});
  return result;
}
