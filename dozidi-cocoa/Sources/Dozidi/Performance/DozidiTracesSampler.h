#pragma once
#include <memory>
#include <optional>

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSamplingContext.h"

class DozidiOptions;
class DozidiRandom;

/// A sampling decision and the rate it was rolled with (none when no rate was involved).
struct DozidiTracesSamplerDecision {
  DozidiSampleDecision decision = DozidiSampleDecision::Undecided;
  std::optional<double> sampleRate;
};

/// Decides whether a transaction is sampled, from the context's own decision, the options'
/// sampler callback, the parent's decision and the options' rate, in that order. Reads the
/// options at every call; any thread may call it.
class DozidiTracesSampler {
 public:
  /// The random source of the dependency container.
  explicit DozidiTracesSampler(std::shared_ptr<DozidiOptions> options);
  DozidiTracesSampler(std::shared_ptr<DozidiOptions> options, std::shared_ptr<DozidiRandom> random);

  DozidiTracesSamplerDecision sample(const DozidiSamplingContext& context) const;

 private:
  DozidiTracesSamplerDecision roll(double rate) const;
  std::shared_ptr<DozidiOptions> options_;
  std::shared_ptr<DozidiRandom> random_;
};
