// The traces and profiles sampling decisions, with a random source that returns what it is given.
#include <gtest/gtest.h>

#include <optional>

#include "PerformanceTestKit.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiProfilesSampler.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracesSampler.h"

namespace {

using performance_test::TestRandom;
constexpr auto Undecided = DozidiSampleDecision::Undecided;
constexpr auto Yes = DozidiSampleDecision::Yes;
constexpr auto No = DozidiSampleDecision::No;
constexpr std::optional<double> kNone = std::nullopt;

/// A sampler callback that answers `rate` and counts its calls.
DozidiSamplerCallback answering(std::optional<double> rate, int* calls = nullptr) {
  return [rate, calls](const DozidiSamplingContext&) {
    if (calls) ++*calls;
    return rate;
  };
}

TEST(PerformanceSamplingTests, TracesDecisionTable) {
  struct Case {
    const char* name;
    DozidiSampleDecision own, parent;
    std::optional<double> ownRate;
    std::optional<double> callback;  // nullopt: no callback at all
    bool callbackAnswersNone;
    std::optional<double> tracesSampleRate;
    double draw;
    DozidiSampleDecision expected;
    std::optional<double> expectedRate;
  };
  const Case cases[] = {
      {"own decision beats rate 0 and callback", Yes, Undecided, 0.3, 0.0, false, 0.0, 0.9, Yes, 0.3},
      {"callback rate rolls", Undecided, No, kNone, 0.25, false, kNone, 0.2, Yes, 0.25},
      {"callback rate rolls no", Undecided, Yes, kNone, 0.25, false, kNone, 0.3, No, 0.25},
      {"invalid callback rate, no default: parent decides", Undecided, Yes, kNone, 1.5, false, 0.0, 0.9, Yes, kNone},
      {"invalid callback rate, no default, no parent: rate", Undecided, Undecided, kNone, 1.5, false, 0.5, 0.9, No, 0.5},
      {"callback answering none falls to the parent", Undecided, No, kNone, 1.0, true, 1.0, 0.0, No, kNone},
      {"nothing at all: no without rate", Undecided, Undecided, kNone, kNone, false, kNone, 0.0, No, kNone},
      {"draw equal to the rate samples", Undecided, Undecided, kNone, kNone, false, 0.5, 0.5, Yes, 0.5},
      {"draw just above the rate does not", Undecided, Undecided, kNone, kNone, false, 0.5, 0.5000001, No, 0.5},
      {"rate 0 samples a draw of exactly 0", Undecided, Undecided, kNone, kNone, false, 0.0, 0.0, Yes, 0.0},
      {"rate 1 samples every draw", Undecided, Undecided, kNone, kNone, false, 1.0, 0.9999999, Yes, 1.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto options = DozidiOptions::create();
    int calls = 0;
    if (c.callback) options->tracesSampler = answering(c.callbackAnswersNone ? kNone : c.callback, &calls);
    options->setTracesSampleRate(c.tracesSampleRate);
    auto context = DozidiTransactionContext::initWithName("t", DozidiTransactionNameSource::Custom, "op",
                                                          DozidiId(), DozidiSpanId(), std::nullopt, c.parent);
    context->setSampled(c.own);
    context->setSampleRate(c.ownRate);
    const DozidiTracesSampler sampler(options, TestRandom::returning(c.draw));
    const auto decision = sampler.sample(DozidiSamplingContext(context));
    EXPECT_EQ(decision.decision, c.expected);
    EXPECT_EQ(decision.sampleRate, c.expectedRate);
    if (c.own != Undecided) EXPECT_EQ(calls, 0) << "an explicit decision never asks the callback";
  }
}

TEST(PerformanceSamplingTests, ProfilesDecisionTable) {
  struct Case {
    const char* name;
    DozidiSampleDecision traces;
    std::optional<double> callback;  // nullopt: no callback
    bool callbackAnswersNone;
    std::optional<double> profilesSampleRate;
    bool enableProfiling;
    double draw;
    DozidiSampleDecision expected;
    std::optional<double> expectedRate;
  };
  const Case cases[] = {
      {"traces no", No, 1.0, false, 1.0, true, 0.0, No, kNone},
      {"traces undecided", Undecided, 1.0, false, 1.0, true, 0.0, No, kNone},
      {"callback rate", Yes, 0.4, false, kNone, false, 0.4, Yes, 0.4},
      {"invalid callback rate falls to the rate", Yes, 1.5, false, 0.2, false, 0.3, No, 0.2},
      {"invalid callback rate falls to enableProfiling", Yes, 1.5, false, kNone, true, 0.9, Yes, 1.0},
      {"callback answering none falls to the rate", Yes, 1.0, true, 0.6, false, 0.5, Yes, 0.6},
      {"rate 0 needs a draw of exactly 0", Yes, kNone, false, 0.0, false, 0.0001, No, 0.0},
      {"rate 1 always", Yes, kNone, false, 1.0, false, 0.9999, Yes, 1.0},
      {"enableProfiling alone", Yes, kNone, false, kNone, true, 0.9, Yes, 1.0},
      {"nothing", Yes, kNone, false, kNone, false, 0.0, No, kNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto options = DozidiOptions::create();
    if (c.callback) options->profilesSampler = answering(c.callbackAnswersNone ? kNone : c.callback);
    options->setProfilesSampleRate(c.profilesSampleRate);
    options->enableProfiling = c.enableProfiling;
    const DozidiProfilesSampler sampler(options, TestRandom::returning(c.draw));
    const DozidiSamplingContext context(DozidiTransactionContext::initWithName("t", "op"));
    const auto decision = sampler.sample(context, DozidiTracesSamplerDecision{c.traces, 1.0});
    EXPECT_EQ(decision.decision, c.expected);
    EXPECT_EQ(decision.sampleRate, c.expectedRate);
  }
}

}  // namespace
