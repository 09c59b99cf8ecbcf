#include <gtest/gtest.h>

#include "NetworkTrackingFixture.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptionValues.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanRecord.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTraceHeader.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/Network/DozidiNetworkTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiBreadcrumb.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiUser.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"

namespace {

using foundation::Array;
using foundation::URL;
using foundation::URLRequest;

class PerformanceNetworkTests : public performance_test::NetworkTrackingFixture {
 protected:
  void SetUp() override {
    NetworkTrackingFixture::SetUp();
    options->enableCaptureFailedRequests = true;
  }
  std::vector<std::shared_ptr<DozidiBreadcrumb>> httpBreadcrumbs() {
    std::vector<std::shared_ptr<DozidiBreadcrumb>> crumbs;
    for (auto& crumb : hub->scope()->breadcrumbs()) {
      if (crumb->category == "http") crumbs.push_back(crumb);
    }
    return crumbs;
  }
};

TEST_F(PerformanceNetworkTests, TracedRequestCarriesTheSpansHeadersAndKeepsForeignBaggage) {
  install();
  auto transaction = bindTransaction();
  URLRequest request(*URL::parse(server.url("/p?q=1")));
  request.setValue("vendor=7,dozidi-release=old", "baggage");
  run(request);

  auto spans = httpSpans(*transaction);
  ASSERT_EQ(spans.size(), 1u);
  const auto& span = spans[0];
  EXPECT_EQ(span->context()->spanDescription(), "GET " + server.url("/p?q=1"));
  EXPECT_TRUE(span->isFinished());
  EXPECT_EQ(span->context()->status(), DozidiSpanStatus::Ok);
  const auto data = span->data().value_or(foundation::Dictionary{});
  EXPECT_EQ(data["url"].string() ? *data["url"].string() : "", "/p");
  EXPECT_EQ(data["method"].string() ? *data["method"].string() : "", "GET");
  EXPECT_EQ(data["type"].string() ? *data["type"].string() : "", "fetch");
  EXPECT_EQ(span->tags()["http.status_code"].string() ? *span->tags()["http.status_code"].string() : "", "200");

  auto headers = received("/p");
  ASSERT_EQ(headers.count("dozidi-trace"), 1u);
  EXPECT_EQ(headers.find("dozidi-trace")->second,
            transaction->context()->traceId().dozidiIdString() + "-" + span->context()->spanId().dozidiSpanIdString() +
                "-1");
  ASSERT_EQ(headers.count("baggage"), 1u);
  auto baggage = DozidiSerialization::decodeBaggage(headers.find("baggage")->second);
  EXPECT_EQ(baggage["vendor"].string() ? *baggage["vendor"].string() : "", "7");
  EXPECT_EQ(baggage["dozidi-release"].string() ? *baggage["dozidi-release"].string() : "", "app@1.0");
  EXPECT_EQ(baggage["dozidi-trace_id"].string() ? *baggage["dozidi-trace_id"].string() : "",
            transaction->context()->traceId().dozidiIdString());
  EXPECT_EQ(baggage["dozidi-public_key"].string() ? *baggage["dozidi-public_key"].string() : "",
            performance_test::kPublicKey);
}

TEST_F(PerformanceNetworkTests, BaggageFollowsTheTransactionAndTheUserOfEachRequest) {
  install();
  auto baggageOf = [&](const std::string& path) {
    run(path);
    auto headers = received(path);
    return headers.count("baggage") ? DozidiSerialization::decodeBaggage(headers.find("baggage")->second)
                                    : foundation::Dictionary{};
  };
  auto first = bindTransaction();
  auto user = DozidiUser::create();
  user->setSegment("vip");
  hub->scope()->setUser(user);
  auto baggage = baggageOf("/first/vip");
  EXPECT_EQ(baggage["dozidi-user_segment"].string() ? *baggage["dozidi-user_segment"].string() : "", "vip");

  // The same transaction after the user changed, then a transaction of its own.
  user = DozidiUser::create();
  user->setSegment("trial");
  hub->scope()->setUser(user);
  baggage = baggageOf("/first/trial");
  EXPECT_EQ(baggage["dozidi-user_segment"].string() ? *baggage["dozidi-user_segment"].string() : "", "trial");
  EXPECT_EQ(baggage["dozidi-trace_id"].string() ? *baggage["dozidi-trace_id"].string() : "",
            first->context()->traceId().dozidiIdString());

  first->finish();
  auto second = bindTransaction();
  baggage = baggageOf("/second");
  EXPECT_EQ(baggage["dozidi-trace_id"].string() ? *baggage["dozidi-trace_id"].string() : "",
            second->context()->traceId().dozidiIdString());
}

TEST_F(PerformanceNetworkTests, SpanStatusFollowsHowTheTaskEnded) {
  install();
  auto transaction = bindTransaction();
  struct Case {
    const char* name;
    std::string url;
    DozidiSpanStatus status;
    const char* tag;  ///< none without an HTTP answer
  };
  const Case cases[] = {
      {"ok", server.url("/p"), DozidiSpanStatus::Ok, "200"},
      {"not found", server.url("/status/404"), DozidiSpanStatus::NotFound, "404"},
      {"server error", server.url("/status/500"), DozidiSpanStatus::InternalError, "500"},
      {"unmapped client error", server.url("/status/418"), DozidiSpanStatus::Undefined, "418"},
      {"transport error", "http://127.0.0.1:1/refused", DozidiSpanStatus::UnknownError, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto before = httpSpans(*transaction).size();
    run(URLRequest(*URL::parse(c.url)));
    auto spans = httpSpans(*transaction);
    ASSERT_EQ(spans.size(), before + 1);
    EXPECT_EQ(spans.back()->context()->status(), c.status);
    auto tag = spans.back()->tags()["http.status_code"];
    if (c.tag) {
      EXPECT_EQ(tag.string() ? *tag.string() : "", c.tag);
    } else {
      EXPECT_TRUE(tag.isAbsent());
    }
  }

  // A cancelled task ends its span as cancelled once, however the task goes on to complete.
  auto task = session->dataTask(*URL::parse(server.url("/hold")), nullptr);
  auto done = delegate->expect(task->taskIdentifier());
  task->resume();
  task->cancel();
  done.wait();
  auto spans = httpSpans(*transaction);
  EXPECT_EQ(spans.back()->context()->status(), DozidiSpanStatus::Cancelled);
  EXPECT_EQ(task->associatedObject(DozidiNetworkTracker::kSpanKey), nullptr);
}

TEST_F(PerformanceNetworkTests, ResumingARunningTaskAgainStartsNoSecondSpan) {
  install();
  auto transaction = bindTransaction();
  auto task = session->dataTask(*URL::parse(server.url("/p")), nullptr);
  auto done = delegate->expect(task->taskIdentifier());
  task->resume();
  task->resume();
  done.wait();
  EXPECT_EQ(httpSpans(*transaction).size(), 1u);
}

TEST_F(PerformanceNetworkTests, TracePropagationTargetsDecideTheHeadersNotTheSpan) {
  struct Case {
    const char* name;
    Array targets;
    bool headers;
  };
  const Case cases[] = {
      {"text contained in the URL", Array{"127.0.0.1"}, true},
      {"text of another host", Array{"example.org"}, false},
      {"regular expression", Array{dozidiObjectValue(DozidiRegularExpression{R"(127\.0\.0\.\d+:\d+/p$)"})}, true},
      {"case-insensitive expression", Array{dozidiObjectValue(DozidiRegularExpression{"/P$", true})}, true},
      {"expression that does not compile", Array{dozidiObjectValue(DozidiRegularExpression{"(", false})}, false},
      {"no targets", Array{}, false},
  };
  install();
  auto transaction = bindTransaction();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    options->setTracePropagationTargets(c.targets);
    const auto before = httpSpans(*transaction).size();
    run("/p");
    EXPECT_EQ(received("/p").count("dozidi-trace"), c.headers ? 1u : 0u);
    EXPECT_EQ(received("/p").count("baggage"), c.headers ? 1u : 0u);
    EXPECT_EQ(httpSpans(*transaction).size(), before + 1);
  }
}

TEST_F(PerformanceNetworkTests, WithoutABoundTransactionOnlyTheBreadcrumbIsAdded) {
  install();
  run("/status/404");
  EXPECT_EQ(received("/status/404").count("dozidi-trace"), 0u);
  auto crumbs = httpBreadcrumbs();
  ASSERT_EQ(crumbs.size(), 1u);
  EXPECT_EQ(crumbs[0]->level, DozidiEventLevel::Info);
  EXPECT_EQ(crumbs[0]->type, "http");
  const auto data = crumbs[0]->data.value_or(foundation::Dictionary{});
  EXPECT_EQ(*data["url"].string(), server.url("/status/404"));
  EXPECT_EQ(*data["method"].string(), "GET");
  EXPECT_EQ(data["status_code"].number()->int64Value(), 404);
  EXPECT_EQ(*data["reason"].string(), "not found");
  EXPECT_EQ(data["request_body_size"].number()->int64Value(), 0);
  EXPECT_EQ(data["response_body_size"].number()->int64Value(), 5);

  run(URLRequest(*URL::parse("http://127.0.0.1:1/refused")));
  crumbs = httpBreadcrumbs();
  ASSERT_EQ(crumbs.size(), 2u);
  EXPECT_EQ(crumbs[1]->level, DozidiEventLevel::Error);
  EXPECT_TRUE(crumbs[1]->data.value_or(foundation::Dictionary{})["status_code"].isAbsent());
}

TEST_F(PerformanceNetworkTests, AFailedRequestBecomesOneEventAndOthersNone) {
  install();
  URLRequest request(*URL::parse(server.url("/status/500?token=2#part")));
  request.setValue("a=b", "Cookie");
  run(request);
  run("/status/499");
  run("/p");

  auto events = sentEvents();
  ASSERT_EQ(events.size(), 1u);
  const auto& event = events[0];
  EXPECT_EQ(*event["level"].string(), "error");
  EXPECT_EQ(*event["message"]["formatted"].string(), "HTTP Client Error with status code: 500");
  const auto& exception = event["exception"]["values"][0];
  EXPECT_EQ(*exception["type"].string(), "HTTPClientError");
  EXPECT_EQ(*exception["value"].string(), "HTTP Client Error with status code: 500");
  EXPECT_EQ(*exception["mechanism"]["type"].string(), "HTTPClientError");
  EXPECT_EQ(exception["stacktrace"]["snapshot"].number() ? exception["stacktrace"]["snapshot"].number()->boolValue() : false,
            true);
  const auto& eventRequest = event["request"];
  EXPECT_EQ(*eventRequest["url"].string(), "http://127.0.0.1/status/500");
  EXPECT_EQ(*eventRequest["query_string"].string(), "token=2");
  EXPECT_EQ(*eventRequest["fragment"].string(), "part");
  EXPECT_EQ(*eventRequest["method"].string(), "GET");
  EXPECT_EQ(*eventRequest["cookies"].string(), "a=b");
  const auto& response = event["contexts"]["response"];
  EXPECT_EQ(response["status_code"].number()->int64Value(), 500);
  EXPECT_EQ(response["body_size"].number()->int64Value(), 5);
  EXPECT_FALSE(response["headers"].isAbsent());

  // Targets that do not name the request capture nothing.
  options->setFailedRequestTargets(Array{"example.org"});
  run("/status/500");
  EXPECT_EQ(sentEvents().size(), 1u);
}

TEST_F(PerformanceNetworkTests, RequestsToTheReportingServiceAreNeverObserved) {
  // The reporting service on the test server's host and port, below a path prefix.
  options->setDsn(std::string("http://") + performance_test::kPublicKey + "@127.0.0.1:" +
                  std::to_string(server.port()) + "/svc/42");
  install();
  auto transaction = bindTransaction();
  run("/svc/api/42/envelope/");
  EXPECT_EQ(received("/svc/api/42/envelope/").count("dozidi-trace"), 0u);
  EXPECT_TRUE(httpSpans(*transaction).empty());
  EXPECT_TRUE(httpBreadcrumbs().empty());

  // Another project's path, and a path that only contains the project's, are the app's own.
  run("/svc/api/420/envelope/");
  run("/lists/42/a.json");
  EXPECT_EQ(received("/svc/api/420/envelope/").count("dozidi-trace"), 1u);
  EXPECT_EQ(received("/lists/42/a.json").count("dozidi-trace"), 1u);
  EXPECT_EQ(httpSpans(*transaction).size(), 2u);
}

TEST(PerformanceNetworkStatusTests, HttpStatusesMapToSpanStatuses) {
  const std::pair<int, DozidiSpanStatus> cases[] = {
      {199, DozidiSpanStatus::Undefined},        {200, DozidiSpanStatus::Ok},
      {299, DozidiSpanStatus::Ok},               {300, DozidiSpanStatus::Undefined},
      {400, DozidiSpanStatus::InvalidArgument},  {401, DozidiSpanStatus::Unauthenticated},
      {403, DozidiSpanStatus::PermissionDenied}, {409, DozidiSpanStatus::Aborted},
      {429, DozidiSpanStatus::ResourceExhausted}, {501, DozidiSpanStatus::Unimplemented},
      {503, DozidiSpanStatus::Unavailable},      {504, DozidiSpanStatus::DeadlineExceeded},
      {-1, DozidiSpanStatus::Undefined},
  };
  for (const auto& [code, status] : cases) {
    EXPECT_EQ(DozidiNetworkTracker::spanStatusForHttpResponseStatusCode(code), status) << code;
  }
}

}  // namespace
