// The trace header, the dynamic sampling context and the baggage header, both ways.
#include <gtest/gtest.h>

#include <string>

#include "PerformanceTracerFixture.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiBaggage.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTraceHeader.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiTraceContext.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiUser.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"

namespace {

using foundation::Dictionary;
using foundation::Value;
using namespace performance_test;

const DozidiId kTrace = DozidiId::initWithUUIDString("12345678123456781234567812345678");
const DozidiSpanId kSpan = DozidiSpanId::initWithValue("abcdefabcdefabcd");

TEST(PerformancePropagationTests, TraceHeaderCarriesTheDecisionOnlyWhenDecided) {
  const std::string ids = "12345678123456781234567812345678-abcdefabcdefabcd";
  EXPECT_EQ(DozidiTraceHeader(kTrace, kSpan, DozidiSampleDecision::Yes).value(), ids + "-1");
  EXPECT_EQ(DozidiTraceHeader(kTrace, kSpan, DozidiSampleDecision::No).value(), ids + "-0");
  EXPECT_EQ(DozidiTraceHeader(kTrace, kSpan, DozidiSampleDecision::Undecided).value(), ids);
}

TEST(PerformancePropagationTests, BaggageMergesOverTheRequestsOwnEntries) {
  DozidiBaggage full(kTrace, "key", "1.0 beta", "prod", "Checkout", "vip", "0.5");
  EXPECT_EQ(full.toHTTPHeader(),
            "dozidi-environment=prod,dozidi-public_key=key,dozidi-release=1.0%20beta,dozidi-sample_rate=0.5,"
            "dozidi-trace_id=12345678123456781234567812345678,dozidi-transaction=Checkout,dozidi-user_segment=vip");

  const Dictionary original{{"other", "x"}, {"dozidi-release", "old"}};
  DozidiBaggage bare(kTrace, "key", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  EXPECT_EQ(bare.toHTTPHeaderWithOriginalBaggage(original),
            "dozidi-public_key=key,dozidi-release=old,dozidi-trace_id=12345678123456781234567812345678,other=x");
  EXPECT_EQ(full.toHTTPHeaderWithOriginalBaggage(original).find("dozidi-release=old"), std::string::npos);
  EXPECT_NE(full.toHTTPHeaderWithOriginalBaggage(original).find("other=x"), std::string::npos);
}

TEST(PerformancePropagationTests, HostileBaggageIsReadWithoutACrash) {
  struct Case {
    const char* name;
    std::string text;
    Dictionary expected;
  };
  const Case cases[] = {
      {"blank kept in the key, pieces without exactly one '=' dropped", " a=1,b=2=3,c", Dictionary{{" a", "1"}}},
      {"bad percent-encoding drops the entry", "a=%zz,b=%4,c=ok", Dictionary{{"c", "ok"}}},
      {"a later duplicate wins", "a=1,a=2", Dictionary{{"a", "2"}}},
      {"overlong", "a=" + std::string(100000, 'x') + ",b=" + std::string(50000, '%'),
       Dictionary{{"a", std::string(100000, 'x')}}},
      {"only separators", ",,,=,", Dictionary{{"", ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DozidiSerialization::decodeBaggage(c.text), c.expected);
  }
  // What is decoded goes out again within the header's budget.
  const auto header = DozidiBaggage(kTrace, "key", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt)
                          .toHTTPHeaderWithOriginalBaggage(DozidiSerialization::decodeBaggage(cases[3].text));
  EXPECT_LE(header.size(), 8192u);
  EXPECT_NE(header.find("dozidi-trace_id="), std::string::npos);
}

class PerformanceTraceContextTests : public TracerFixture {};

TEST_F(PerformanceTraceContextTests, ContextOfATracerRoundTripsThroughItsDictionary) {
  options->environment = "staging";
  hub->scope()->setUser([] {
    auto user = DozidiUser::initWithUserId("u");
    user->setSegment("vip");
    return user;
  }());
  auto tracer = hub->startTransactionWithName("Checkout", "ui.load", true);
  auto context = DozidiTraceContext::initWithScope(*hub->scope(), options);
  ASSERT_TRUE(context);
  const auto dict = context->serialize();
  EXPECT_EQ(dict, Value(Dictionary{{"trace_id", tracer->context()->traceId().dozidiIdString()},
                                   {"public_key", kPublicKey},
                                   {"release", "app@1.0"},
                                   {"environment", "staging"},
                                   {"transaction", "Checkout"},
                                   {"user_segment", "vip"},
                                   {"sample_rate", "1"}}));
  auto back = DozidiTraceContext::initWithDict(dict);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->serialize(), dict);
  EXPECT_EQ(back->toBaggage().toHTTPHeader(), context->toBaggage().toHTTPHeader());

  // Without a rate on the transaction there is no "sample_rate", in neither form.
  auto unrated = DozidiTracer::initWithTransactionContext(DozidiTransactionContext::initWithName("t", "op"), hub);
  auto plain = DozidiTraceContext::initWithTracer(*unrated, *hub->scope(), options);
  const auto plainDict = plain->serialize();
  EXPECT_FALSE(plainDict.find("sample_rate"));
  EXPECT_EQ(plain->toBaggage().toHTTPHeader().find("dozidi-sample_rate"), std::string::npos);

  EXPECT_FALSE(DozidiTraceContext::initWithScope(*DozidiScope::create(), options)) << "no span, no context";
  options->setDsn(std::nullopt);
  EXPECT_FALSE(DozidiTraceContext::initWithTracer(*tracer, *hub->scope(), options)) << "no DSN, no context";
  tracer->finish();  // leaves the scope, which holds it
}

TEST(PerformancePropagationTests, ContextFromADictionaryPrefersTheUsersSegment) {
  auto fromUser = DozidiTraceContext::initWithDict(
      Dictionary{{"public_key", "k"}, {"user", Dictionary{{"segment", 5}}}, {"user_segment", "flat"}});
  ASSERT_TRUE(fromUser);
  EXPECT_FALSE(fromUser->userSegment()) << "a present user with a non-text segment gives none";
  EXPECT_EQ(DozidiTraceContext::initWithDict(Dictionary{{"public_key", "k"}, {"user_segment", "flat"}})->userSegment(),
            "flat");
  EXPECT_FALSE(DozidiTraceContext::initWithDict(Dictionary{{"trace_id", "x"}}));
  EXPECT_EQ(DozidiTraceContext::initWithDict(Dictionary{{"public_key", "k"}, {"trace_id", "bad"}})->traceId(),
            DozidiId::empty());
}

}  // namespace
