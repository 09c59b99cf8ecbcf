#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiProfilesSampler.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiRandom.h"

DozidiProfilesSampler::DozidiProfilesSampler(std::shared_ptr<DozidiOptions> options)
    : DozidiProfilesSampler(std::move(options), DozidiDependencyContainer::sharedInstance()->random()) {}

DozidiProfilesSampler::DozidiProfilesSampler(std::shared_ptr<DozidiOptions> options,
                                             std::shared_ptr<DozidiRandom> random)
    : options_(std::move(options)), random_(std::move(random)) {}

DozidiProfilesSamplerDecision DozidiProfilesSampler::calcSample(double rate) const {
  const double draw = random_->nextNumber();
  return {draw <= rate ? DozidiSampleDecision::Yes : DozidiSampleDecision::No, rate};
}

DozidiProfilesSamplerDecision DozidiProfilesSampler::sample(const DozidiSamplingContext& context,
                                                            const DozidiTracesSamplerDecision& tracesSamplerDecision) const {
  if (tracesSamplerDecision.decision != DozidiSampleDecision::Yes) return {DozidiSampleDecision::No, std::nullopt};
  if (options_->profilesSampler) {
    if (const auto rate = options_->profilesSampler(context)) {
      if (DozidiOptions::isValidSampleRate(*rate)) return calcSample(*rate);
      if (const auto fallback = DozidiOptions::defaultProfilesSampleRate()) return calcSample(*fallback);
    }
  }
  if (const auto rate = options_->profilesSampleRate()) return calcSample(*rate);
  if (options_->enableProfiling) return {DozidiSampleDecision::Yes, 1.0};
  return {DozidiSampleDecision::No, std::nullopt};
}
