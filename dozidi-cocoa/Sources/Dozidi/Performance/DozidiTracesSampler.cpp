#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracesSampler.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiRandom.h"

DozidiTracesSampler::DozidiTracesSampler(std::shared_ptr<DozidiOptions> options)
    : DozidiTracesSampler(std::move(options), DozidiDependencyContainer::sharedInstance()->random()) {}

DozidiTracesSampler::DozidiTracesSampler(std::shared_ptr<DozidiOptions> options, std::shared_ptr<DozidiRandom> random)
    : options_(std::move(options)), random_(std::move(random)) {}

DozidiTracesSamplerDecision DozidiTracesSampler::roll(double rate) const {
  const double draw = random_->nextNumber();
  return {draw <= rate ? DozidiSampleDecision::Yes : DozidiSampleDecision::No, rate};
}

DozidiTracesSamplerDecision DozidiTracesSampler::sample(const DozidiSamplingContext& context) const {
  const auto& transaction = *context.transactionContext();
  if (transaction.sampled() != DozidiSampleDecision::Undecided) {
    return {transaction.sampled(), transaction.sampleRate()};
  }
  if (options_->tracesSampler) {
    if (const auto rate = options_->tracesSampler(context)) {
      if (DozidiOptions::isValidSampleRate(*rate)) return roll(*rate);
      if (const auto fallback = DozidiOptions::defaultTracesSampleRate()) return roll(*fallback);
    }
  }
  if (transaction.parentSampled() != DozidiSampleDecision::Undecided) {
    return {transaction.parentSampled(), transaction.sampleRate()};
  }
  if (const auto rate = options_->tracesSampleRate()) return roll(*rate);
  return {DozidiSampleDecision::No, std::nullopt};
}
