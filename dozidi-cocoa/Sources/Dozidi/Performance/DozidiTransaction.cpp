#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTransaction.h"

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanRecord.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMeasurementUnit.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"

using foundation::Array;
using foundation::Dictionary;

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
  Dictionary result = DozidiEvent::serialize();

  Array spans;
  spans.reserve(spans_.size());
  for (const auto& span : spans_) spans.push_back(span->serialize());
  result.set("spans", std::move(spans));

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
