#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTraceHeader.h"

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSpan.h"

std::string DozidiTraceHeader::value() const {
  std::string text = traceId_.dozidiIdString() + "-" + spanId_.value();
  if (sampled_ == DozidiSampleDecision::Yes) text += "-1";
  if (sampled_ == DozidiSampleDecision::No) text += "-0";
  return text;
}

DozidiTraceHeader DozidiSpan::toTraceHeader() const {
  const auto ctx = context();
  return DozidiTraceHeader(ctx->traceId(), ctx->spanId(), ctx->sampled());
}
