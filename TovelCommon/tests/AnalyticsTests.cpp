#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "platform/foundation/tests/ConsoleCapture.h"
#include "TovelCommon/Analytics.h"
#include "TovelCommon/Pinvale.h"
#include "TovelTestSupport.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Console.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/URLSession.h"

namespace tovel {
namespace {

using foundation::Value;

struct TrackedEvent {
  std::string event;
  foundation::Dictionary properties;
};

/// A sink that records what it is asked to send. Copies share one record.
struct RecordingSink final : InternalAnalyticsHandler {
  struct Record {
    std::mutex mutex;
    std::vector<TrackedEvent> events;
    std::optional<std::string> distinctId;
    std::function<void()> duringTrack;
  };
  std::shared_ptr<Record> record = std::make_shared<Record>();

  std::unique_ptr<InternalAnalyticsHandler> clone() const override { return std::make_unique<RecordingSink>(*this); }
  void setDistinctId(std::string id) override {
    std::lock_guard lock(record->mutex);
    record->distinctId = std::move(id);
  }
  void track(std::string_view event, const std::optional<foundation::Dictionary>& properties, foundation::Date,
             Completion) const override {
    std::function<void()> during;
    {
      std::lock_guard lock(record->mutex);
      record->events.push_back({std::string(event), properties.value_or(foundation::Dictionary())});
      during = record->duringTrack;
    }
    if (during) during();
  }
  std::vector<std::string> names() const {
    std::lock_guard lock(record->mutex);
    std::vector<std::string> out;
    for (const auto& e : record->events) out.push_back(e.event);
    return out;
  }
};

struct Dimensions final : ExternalAnalyticsHandler {
  std::mutex mutex;
  AnalyticsParameters dimensions;
  std::vector<std::string> told;
  std::function<void()> duringDimensions;
  std::function<void()> duringLog;

  std::optional<AnalyticsParameters> commonAnalyticsDimensions() override {
    if (duringDimensions) duringDimensions();
    std::lock_guard lock(mutex);
    return dimensions;
  }
  void log(std::string_view event, const AnalyticsTexts&) override {
    {
      std::lock_guard lock(mutex);
      told.emplace_back(event);
    }
    if (duringLog) duringLog();
  }
};

class AnalyticsTest : public ::testing::Test {
 protected:
  std::shared_ptr<Analytics> make(std::shared_ptr<Dimensions> handler = nullptr) {
    return Analytics::create(sink_, handler);
  }
  test_support::ScopedDeviceRoot root_;
  RecordingSink sink_;
  std::unique_ptr<foundation::Console::Capture> console_ = foundation::captureConsoleForTesting();
};

TEST_F(AnalyticsTest, RepeatsAreSkippedButInterleavedEventsAreSent) {
  auto handler = std::make_shared<Dimensions>();
  handler->dimensions = {{"enabledFilters", Value(foundation::Array{"Ads"})}};
  auto analytics = make(handler);
  analytics->log("A");
  analytics->log("A");
  analytics->log("B");
  analytics->log("A");
  analytics->log("A", {{"p", Value(1)}});
  handler->dimensions = {{"enabledFilters", Value(foundation::Array{"Ads", "Social"})}};
  analytics->log("A", {{"p", Value(1)}});
  EXPECT_EQ(sink_.names(), (std::vector<std::string>{"A", "B", "A", "A", "A"}));
  EXPECT_EQ(handler->told.size(), 5u);
  EXPECT_EQ(console_->text(),
            "TRACK A=[\"enabledFilters\": \"[\\\"Ads\\\"]\"]\n"
            "--SKIP--TRACK A=[\"enabledFilters\": \"[\\\"Ads\\\"]\"]\n"
            "TRACK B=[\"enabledFilters\": \"[\\\"Ads\\\"]\"]\n"
            "TRACK A=[\"enabledFilters\": \"[\\\"Ads\\\"]\"]\n"
            "TRACK A=[\"enabledFilters\": \"[\\\"Ads\\\"]\", \"p\": \"1\"]\n"
            "TRACK A=[\"enabledFilters\": \"[\\\"Ads\\\", \\\"Social\\\"]\", \"p\": \"1\"]\n");
}

TEST_F(AnalyticsTest, AKeyHoldingDigestPunctuationIsNotTakenForARepeat) {
  // Written unquoted, both maps would read k:"v":l:"w".
  auto analytics = make();
  analytics->log("E", {{"k", Value("v")}, {"l", Value("w")}});
  analytics->log("E", {{"k:\"v\":l", Value("w")}});
  EXPECT_EQ(sink_.names(), (std::vector<std::string>{"E", "E"}));
}

TEST_F(AnalyticsTest, OnceOnlyEventsAreSentOncePerProcessEvenWhileDisabled) {
  auto handler = std::make_shared<Dimensions>();
  auto analytics = make(handler);
  analytics->setEnabled(false);
  analytics->log("err", {}, Once::Yes);  // recorded, handler told, nothing sent
  analytics->setEnabled(true);
  analytics->log("other");
  analytics->log("err", {{"x", Value(2)}}, Once::Yes);  // skipped by the once set
  analytics->log("err", {}, Once::No);                  // not stopped by the once set
  EXPECT_EQ(sink_.names(), (std::vector<std::string>{"other", "err"}));
  EXPECT_EQ(handler->told, (std::vector<std::string>{"err", "other", "err"}));
  EXPECT_EQ(console_->text(),
            "--DISABLED--TRACK err=[:]\nTRACK other=[:]\n--SKIP--TRACK err=[\"x\": \"2\"]\nTRACK err=[:]\n");
}

TEST_F(AnalyticsTest, ParametersOverrideDimensionsAndBecomeText) {
  auto handler = std::make_shared<Dimensions>();
  handler->dimensions = {{"enabledFilters", Value("dim")}, {"gone", Value("dim")}, {"kept", Value(true)}};
  auto analytics = make(handler);
  analytics->log("E", {{"enabledFilters", Value("param")},
                       {"gone", Value()},
                       {"error", Value(foundation::Error::withDescription("Dom", 7, "It broke"))},
                       {"url", Value(*foundation::URL::parse("https://a.invalid/x"))},
                       {"n", Value(-3)},
                       {"d", Value(foundation::Number::fromDecimal(1e21))},
                       {"null", Value(nullptr)}});
  ASSERT_EQ(sink_.record->events.size(), 1u);
  const foundation::Dictionary& sent = sink_.record->events[0].properties;
  EXPECT_EQ(sent, (foundation::Dictionary{{"d", "1000000000000000000000"},
                                          {"enabledFilters", "param"},
                                          {"error", "Dom 7 It broke"},
                                          {"kept", "true"},
                                          {"n", "-3"},
                                          {"null", "null"},
                                          {"url", "https://a.invalid/x"}}));
}

TEST_F(AnalyticsTest, HelpersShapeTheirEvents) {
  auto analytics = make();
  analytics->logPurchase(true, "Pro", "pro.1", foundation::Number::fromDecimal(1.99), {{"currency", Value("EUR")}},
                         std::nullopt);
  analytics->logPurchase(false, "Pro", "pro.1", foundation::Number::fromDecimal(1.99), {}, "USD");
  analytics->logInvite("mail", {});
  analytics->logError("errX", "boom", {{"line", Value("old")}}, "File.cpp", 12);
  EXPECT_EQ(sink_.names(),
            (std::vector<std::string>{"InAppPurchasePurchased", "InAppPurchaseFailed", "inviteMail", "errX"}));
  const auto& events = sink_.record->events;
  EXPECT_FALSE(events[0].properties.contains("currency"));
  EXPECT_EQ(events[0].properties["itemPrice"], Value("1.99"));
  EXPECT_EQ(events[1].properties["currency"], Value("USD"));
  EXPECT_EQ(events[3].properties, (foundation::Dictionary{{"failReason", "boom"}, {"file", "File.cpp"}, {"line", "12"}}));
}

TEST_F(AnalyticsTest, TheSinkGetsTheIdentifierAsDistinctIdAndAGoneHandlerMeansNoDimensions) {
  auto handler = std::make_shared<Dimensions>();
  handler->dimensions = {{"dim", Value(1)}};
  auto analytics = make(handler);
  const std::string id = analytics->identifier();
  EXPECT_EQ(id.size(), 36u);
  EXPECT_EQ(analytics->identifier(), id);
  EXPECT_EQ(sink_.record->distinctId, id);
  handler.reset();
  analytics->log("E");
  EXPECT_EQ(sink_.record->events.at(0).properties, foundation::Dictionary());
  EXPECT_EQ(console_->text(), "TRACK E=[:]\n");
}

TEST_F(AnalyticsTest, ConcurrentAndReentrantCallsAreSerialised) {
  auto handler = std::make_shared<Dimensions>();
  auto analytics = make(handler);
  // A dimension provider that logs from inside the dimension call must not deadlock.
  bool nested = false;
  handler->duringDimensions = [&] {
    if (!nested) {
      nested = true;
      analytics->log("nested");
    }
  };
  analytics->log("outer");
  handler->duringDimensions = nullptr;
  EXPECT_EQ(sink_.names(), (std::vector<std::string>{"outer", "nested"}));

  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) analytics->log("e" + std::to_string(t), {{"i", Value(i)}}, Once::No);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(sink_.names().size(), 2u + 200u);
}

TEST_F(AnalyticsTest, CallbacksMayWaitForAnotherThreadThatLogs) {
  // A callback waits (bounded, so that a front end holding its lock fails instead of hanging) for
  // another thread that logs through the same front end.
  enum class During { Dimensions, HandlerLog, SinkTrack };
  struct Case {
    const char* name;
    During during;
    std::vector<std::string> sent;
  };
  const Case cases[] = {
      // The other thread's event is decided before the one whose dimensions are being gathered.
      {"dimension handler", During::Dimensions, {"other", "outer"}},
      {"observing handler", During::HandlerLog, {"outer", "other"}},
      {"sink", During::SinkTrack, {"outer", "other"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSink sink;
    auto handler = std::make_shared<Dimensions>();
    auto analytics = Analytics::create(sink, handler);
    std::atomic<bool> waited{false};
    bool otherFinished = false;
    std::thread other;
    auto waitForOtherThread = [&] {
      if (waited.exchange(true)) return;
      auto finished = std::make_shared<std::promise<void>>();
      auto done = finished->get_future();
      other = std::thread([&, finished] {
        analytics->log("other");
        finished->set_value();
      });
      otherFinished = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    };
    switch (c.during) {
      case During::Dimensions: handler->duringDimensions = waitForOtherThread; break;
      case During::HandlerLog: handler->duringLog = waitForOtherThread; break;
      case During::SinkTrack: sink.record->duringTrack = waitForOtherThread; break;
    }
    analytics->log("outer");
    other.join();
    EXPECT_TRUE(otherFinished);
    EXPECT_EQ(sink.names(), c.sent);
  }
}

// The Pinvale client against a loopback track endpoint.
class PinvaleTest : public ::testing::Test {
 protected:
  PinvaleTest() {
    client_.token = "7c41e09bd2a35f8816ea4c0d93b27f65";
    client_.endpoint = server_.baseURL() + "track/";
  }

  /// The body of the one request received: the JSON object that "data" carries.
  Value receivedBody() {
    auto requests = log_->all();
    if (requests.size() != 1) return Value();
    const std::string& query = requests[0].query;
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/track/");
    EXPECT_TRUE(query.starts_with("data="));
    EXPECT_TRUE(query.ends_with("&ip=1"));
    auto bytes = foundation::base64DecodedData(query.substr(5, query.size() - 5 - 5));
    if (!bytes) return Value();
    return foundation::JSONSerialization::JSONObjectWithData(bytes->view()).valueOr(Value());
  }

  /// Tracks one event and waits for its completion.
  std::optional<bool> trackAndWait(const Pinvale& client, std::optional<foundation::Dictionary> properties) {
    auto outcome = std::make_shared<std::atomic<int>>(-1);
    client.track("Event", properties, foundation::Date::fromTimeIntervalSince1970(1700000000.25),
                 [outcome](bool sent) { *outcome = sent ? 1 : 0; });
    dispatch::runMainLoopUntil([&] { return *outcome >= 0; }, 10);
    if (*outcome < 0) return std::nullopt;
    return *outcome == 1;
  }

  test_support::ScopedDeviceRoot root_;
  std::shared_ptr<test_support::RequestLog> log_ = std::make_shared<test_support::RequestLog>();
  test_support::LoopbackServer server_{"pinvale", log_};
  Pinvale client_{"", std::nullopt, foundation::URLSession::shared()};
};

TEST_F(PinvaleTest, SendsOneGETWithTheEventAsBase64JSON) {
  client_.setDistinctId("ID-1");
  ASSERT_EQ(trackAndWait(client_, foundation::Dictionary{{"mp_lib", "mine"}, {"token", "x"}, {"time", "y"},
                                                          {"a/b", "+/?=+/"}}),
            true);
  const Value body = receivedBody();
  EXPECT_EQ(body["event"], Value("Event"));
  const Value& properties = body["properties"];
  EXPECT_EQ(properties["mp_lib"], Value("mine"));
  EXPECT_EQ(properties["token"], Value("7c41e09bd2a35f8816ea4c0d93b27f65"));
  EXPECT_EQ(properties["time"], Value(1700000000.25));
  EXPECT_EQ(properties["distinct_id"], Value("ID-1"));
  EXPECT_EQ(properties["a/b"], Value("+/?=+/"));
  EXPECT_EQ(properties["$manufacturer"], Value("Apple"));
  EXPECT_EQ(properties["$screen_width"], Value(375));
  EXPECT_TRUE(properties["$os"].string());
}

TEST_F(PinvaleTest, CompletionReportsOnlyA200AsSent) {
  struct Case {
    int status;
    bool sent;
  };
  for (const Case& c : {Case{200, true}, Case{204, false}, Case{500, false}}) {
    SCOPED_TRACE(c.status);
    server_.setHandler([status = c.status](const httplib::Request&, httplib::Response& response) {
      response.status = status;
    });
    EXPECT_EQ(trackAndWait(client_, std::nullopt), c.sent);
  }
  // Without a distinct id an event's own "distinct_id" stays.
  log_->clear();
  server_.setHandler(nullptr);
  ASSERT_EQ(trackAndWait(client_, foundation::Dictionary{{"distinct_id", "mine"}}), true);
  EXPECT_EQ(receivedBody()["properties"]["distinct_id"], Value("mine"));

  Pinvale disabled = client_;
  disabled.enabled = false;
  bool reported = true;
  disabled.track("E", std::nullopt, foundation::Date::now(), [&](bool sent) { reported = sent; });
  EXPECT_FALSE(reported);
}

TEST_F(PinvaleTest, FrontEndEventsArriveWithMergedDimensions) {
  auto handler = std::make_shared<Dimensions>();
  handler->dimensions = {{"enabledFilters", Value(foundation::Array{"Ads"})}};
  auto console = foundation::captureConsoleForTesting();
  auto analytics = Analytics::create(client_, handler);
  analytics->log("firstLaunchEver", {{"n", Value(1)}});
  ASSERT_TRUE(dispatch::runMainLoopUntil([&] { return log_->size() == 1; }, 10));
  const Value properties = receivedBody()["properties"];
  EXPECT_EQ(properties["enabledFilters"], Value("[\"Ads\"]"));
  EXPECT_EQ(properties["n"], Value("1"));
  EXPECT_EQ(properties["distinct_id"], Value(analytics->identifier()));
}

}  // namespace
}  // namespace tovel
