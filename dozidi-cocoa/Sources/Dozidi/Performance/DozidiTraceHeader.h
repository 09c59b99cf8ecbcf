#pragma once
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanContext.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiId.h"

/// The "dozidi-trace" header of an outgoing request: trace id, span id and, when decided, the
/// sampling decision. An immutable value.
class DozidiTraceHeader {
 public:
  DozidiTraceHeader(DozidiId traceId, DozidiSpanId spanId, DozidiSampleDecision sampled)
      : traceId_(std::move(traceId)), spanId_(std::move(spanId)), sampled_(sampled) {}

  const DozidiId& traceId() const { return traceId_; }
  const DozidiSpanId& spanId() const { return spanId_; }
  DozidiSampleDecision sampled() const { return sampled_; }
  /// "<trace id>-<span id>-1" for yes, "...-0" for no, "<trace id>-<span id>" when undecided.
  std::string value() const;

 private:
  DozidiId traceId_;
  DozidiSpanId spanId_;
  DozidiSampleDecision sampled_;
};
