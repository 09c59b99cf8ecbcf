#pragma once
#include <memory>

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracesSampler.h"

/// The profiling decision for one transaction; the same shape as the traces decision.
using DozidiProfilesSamplerDecision = DozidiTracesSamplerDecision;

/// Decides whether a sampled transaction is also profiled: never for one not sampled for tracing;
/// otherwise from the options' profiles sampler callback, its rate, or `enableProfiling`.
class DozidiProfilesSampler {
 public:
  explicit DozidiProfilesSampler(std::shared_ptr<DozidiOptions> options);
  DozidiProfilesSampler(std::shared_ptr<DozidiOptions> options, std::shared_ptr<DozidiRandom> random);

  DozidiProfilesSamplerDecision sample(const DozidiSamplingContext& context,
                                       const DozidiTracesSamplerDecision& tracesSamplerDecision) const;
  /// Yes when the draw is at most `rate`; the decision carries the rate.
  DozidiProfilesSamplerDecision calcSample(double rate) const;

 private:
  std::shared_ptr<DozidiOptions> options_;
  std::shared_ptr<DozidiRandom> random_;
};
