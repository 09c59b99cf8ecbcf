#pragma once
#include <memory>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTransactionContext.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"

class DozidiSpanRecord;
class DozidiTracer;

/// The event that carries a finished transaction: the tracer and its child spans. Its dates are
/// the tracer's and its type is "transaction".
class DozidiTransaction : public DozidiEvent {
 public:
  static std::shared_ptr<DozidiTransaction> initWithTrace(std::shared_ptr<DozidiTracer> trace,
                                                          std::vector<std::shared_ptr<DozidiSpanRecord>> children);

  const std::shared_ptr<DozidiTracer>& trace() const { return trace_; }
  const std::vector<std::shared_ptr<DozidiSpanRecord>>& spans() const { return spans_; }

  /// The event's dictionary with "spans", the tracer as the "trace" context, the tracer's tags
  /// and data, its measurements, "transaction" and "transaction_info".
  foundation::Dictionary serialize() override;
  /// The JSON text of `serialize()`, with the spans written straight into the text rather than
  /// built as a dictionary each; the other members go through the dictionary as before.
  std::optional<foundation::Data> jsonData(foundation::Error* error) override;

  /// "url", "route", "view", "component", "task", and "custom" for every other value.
  static const char* stringForNameSource(DozidiTransactionNameSource source);

 private:
  DozidiTransaction() = default;
  /// Every member of `serialize()` but "spans".
  foundation::Dictionary serializeWithoutSpans();
  std::shared_ptr<DozidiTracer> trace_;
  std::vector<std::shared_ptr<DozidiSpanRecord>> spans_;
};
