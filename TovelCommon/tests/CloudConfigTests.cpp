#include <gtest/gtest.h>

#include "platform/foundation/tests/ConsoleCapture.h"
#include "TovelCommon/Analytics.h"
#include "TovelCommon/CloudConfig.h"
#include "TovelCommon/UserDefaultsExtensions.h"
#include "TovelTestSupport.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/Console.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/UserDefaults.h"

namespace tovel {
namespace {

using foundation::Value;
using Source = CloudConfig::Source;

constexpr const char* kPath = "Skyvane/config1.7.json";
constexpr const char* kGoodAnswer =
    R"({"cloudConfig": {"analyticsEnabled": true, "icon": "icons/a.png"}, "lists": [], "apps": []})";

/// The three configuration hosts of every test in this process: the first refuses connections,
/// the other two answer what each test sets. The base URLs are read once per process, so the
/// hosts live as long as the process.
struct Hosts {
  std::shared_ptr<test_support::RequestLog> log = std::make_shared<test_support::RequestLog>();
  test_support::RefusingPort refusing;
  test_support::LoopbackServer second{"second", log};
  test_support::LoopbackServer third{"third", log};

  Hosts() {
    const std::string bases = refusing.baseURL() + "," + second.baseURL() + "," + third.baseURL();
    ::setenv("FENDREL_CONFIG_BASES", bases.c_str(), 1);
    ::setenv("FENDREL_NO_SHUFFLE", "1", 1);
  }
  static Hosts& shared() {
    static Hosts* hosts = new Hosts();
    return *hosts;
  }
};

/// Answers every request with `status` and `body`, noting the clock's uptime of each request.
test_support::LoopbackServer::Handler answer(int status, std::string body,
                                             std::shared_ptr<std::vector<double>> times = {}) {
  return [status, body = std::move(body), times](const httplib::Request&, httplib::Response& response) {
    if (times) times->push_back(dispatch::Clock::current().uptime());
    response.status = status;
    response.set_content(body, "application/json");
  };
}

/// Records the events the front end hands to its sink.
struct RecordingSink final : InternalAnalyticsHandler {
  std::shared_ptr<std::vector<std::string>> names = std::make_shared<std::vector<std::string>>();
  std::shared_ptr<std::mutex> mutex = std::make_shared<std::mutex>();
  std::unique_ptr<InternalAnalyticsHandler> clone() const override { return std::make_unique<RecordingSink>(*this); }
  void setDistinctId(std::string) override {}
  void track(std::string_view event, const std::optional<foundation::Dictionary>&, foundation::Date,
             Completion) const override {
    std::lock_guard lock(*mutex);
    names->emplace_back(event);
  }
  std::vector<std::string> sent() const {
    std::lock_guard lock(*mutex);
    return *names;
  }
};

class CloudConfigTest : public ::testing::Test {
 protected:
  CloudConfigTest() {
    hosts_.log->clear();
    hosts_.second.setHandler(answer(500, "down"));
    hosts_.third.setHandler(answer(200, kGoodAnswer));
  }

  std::shared_ptr<CloudConfig> start() {
    auto sources = sources_;
    return CloudConfig::create(kPath, defaults_, analytics_, dispatch::DispatchQueue::main(), ShuffleURLs::Yes,
                               [sources](Source source) { sources->push_back(source); });
  }

  /// Pumps the main queue until no request is in flight and nothing is due on the main queue.
  /// A request in flight holds the configuration strongly; delayed retries hold it weakly.
  void settle(const std::shared_ptr<CloudConfig>& config) {
    do {
      ASSERT_TRUE(dispatch::runMainLoopUntil([&] { return config.use_count() == 1; }, 20));
    } while (dispatch::drainMainQueue() != 0 || config.use_count() != 1);
  }

  std::vector<std::string> requestedHosts() const {
    std::vector<std::string> names;
    for (const auto& request : hosts_.log->all()) {
      EXPECT_EQ(request.path, std::string("/") + kPath);
      names.push_back(request.serverName);
    }
    return names;
  }

  Hosts& hosts_ = Hosts::shared();
  test_support::ScopedDeviceRoot root_;
  test_support::ScopedManualClock clock_;
  std::unique_ptr<foundation::Console::Capture> console_ = foundation::captureConsoleForTesting();
  std::shared_ptr<foundation::UserDefaults> defaults_ = foundation::UserDefaults::suite("group.com.morvit.Fendrel");
  RecordingSink sink_;
  std::shared_ptr<Analytics> analytics_ = Analytics::create(sink_);
  std::shared_ptr<std::vector<Source>> sources_ = std::make_shared<std::vector<Source>>();
};

TEST_F(CloudConfigTest, TriesTheHostsInOrderThenCachesAndAnnouncesTheGoodAnswer) {
  auto config = start();
  EXPECT_EQ(config->lastSource(), std::nullopt);
  std::vector<Source> early, late;
  config->addRefreshCallback([&](Source s) { early.push_back(s); });
  settle(config);

  EXPECT_EQ(requestedHosts(), (std::vector<std::string>{"second", "third"}));
  EXPECT_EQ(*sources_, std::vector<Source>{Source::Remote});
  EXPECT_EQ(early, std::vector<Source>{Source::Remote});
  config->addRefreshCallback([&](Source s) { late.push_back(s); });
  EXPECT_EQ(late, std::vector<Source>{Source::Remote});
  // Both failures were logged with the once flag: one event reaches the sink.
  EXPECT_EQ(sink_.sent(), std::vector<std::string>{"errCloudConfigDownload"});

  const std::string thirdURL = hosts_.third.baseURL() + kPath;
  EXPECT_EQ(config->baseUrl()->absoluteString(), thirdURL);
  EXPECT_EQ(config->value("icon")->url()->absoluteString(), hosts_.third.baseURL() + "Skyvane/icons/a.png");
  const auto stored = defaults_->data(CloudConfig::kDataKey);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->view().find("analyticsEnabled"), std::string_view::npos);  // scrambled
  EXPECT_EQ(scrambledObject(*defaults_, CloudConfig::kBaseKey, CloudConfig::kScrambleKey), Value(thirdURL));

  // The next start announces the cached configuration as local before the network answers.
  hosts_.third.setHandler(answer(500, "down"));
  sources_->clear();
  auto next = start();
  EXPECT_EQ(next->lastSource(), Source::Local);
  EXPECT_EQ(next->value("analyticsEnabled")->boolean(), true);
  std::vector<Source> seen;
  next->addRefreshCallback([&](Source s) { seen.push_back(s); });
  EXPECT_EQ(seen, std::vector<Source>{Source::Local});
  dispatch::drainMainQueue();
  EXPECT_EQ(*sources_, std::vector<Source>{Source::Local});
  settle(next);
}

TEST_F(CloudConfigTest, FailedPassesFollowTheBackOffAndReleasingTheObjectEndsThem) {
  auto times = std::make_shared<std::vector<double>>();
  hosts_.second.setHandler(answer(500, "down", times));
  hosts_.third.setHandler(answer(404, "missing", times));
  auto config = start();
  settle(config);
  EXPECT_EQ(times->size(), 2u);

  // Passes start after 2, 4 and 8 seconds.
  for (double wait : {2.0, 4.0, 8.0}) {
    clock_->advance(wait - 0.001);
    settle(config);
    const std::size_t before = times->size();
    clock_->advance(0.001);
    settle(config);
    ASSERT_EQ(times->size(), before + 2) << "after waiting " << wait;
  }
  std::vector<long> milliseconds;
  for (double t : *times) milliseconds.push_back(std::lround(t * 1000));
  EXPECT_EQ(milliseconds, (std::vector<long>{0, 0, 2000, 2000, 6000, 6000, 14000, 14000}));
  EXPECT_EQ(sink_.sent(), std::vector<std::string>{"errCloudConfigDownload"});
  EXPECT_EQ(*sources_, std::vector<Source>{});

  std::weak_ptr<CloudConfig> weak = config;
  config.reset();
  EXPECT_TRUE(weak.expired());
  clock_->advance(16);
  dispatch::drainMainQueue();
  EXPECT_EQ(times->size(), 8u);
}

TEST(CloudConfigRetryDelayTest, GrowsPerPassAndIsCappedAtFifteenMinutes) {
  struct Case {
    std::int64_t next;
    std::size_t count;
    double ratio;
    double delay;
  };
  const Case cases[] = {
      {1, 3, 2, 0}, {2, 3, 2, 0}, {3, 3, 2, 2}, {6, 3, 2, 4}, {27, 3, 2, 512}, {30, 3, 2, 900},
      {3'000'000, 3, 2, 900}, {1, 1, 2, 2}, {4, 1, 10, 900}, {3, 3, 0, 0}, {3, 3, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.next);
    EXPECT_EQ(CloudConfig::retryDelay(c.next, c.count, c.ratio), c.delay);
  }
}

TEST_F(CloudConfigTest, AnswersThatAreNotAConfigurationAreFailuresWithTheirOwnEvents) {
  hosts_.second.setHandler(answer(200, "<html>portal</html>"));
  hosts_.third.setHandler(answer(200, R"({"error": null, "cloudConfig": {}})"));
  auto config = start();
  settle(config);
  clock_->advance(2);
  settle(config);
  EXPECT_EQ(hosts_.log->size(), 4u);
  EXPECT_EQ(sink_.sent(),
            (std::vector<std::string>{"errCloudConfigDownload", "errCloudConfigJSON", "errCloudConfigJSONErrorKey"}));
  EXPECT_NE(console_->text().find("TRACK errCloudConfigJSONErrorKey=[\"error\": \"null\", \"url\": \"" +
                                  hosts_.third.baseURL() + kPath + "\"]"),
            std::string::npos);
  EXPECT_FALSE(config->rawConfig());
  EXPECT_FALSE(defaults_->data(CloudConfig::kDataKey));
}

TEST_F(CloudConfigTest, AnswersLongerThanTheLimitAreDownloadFailures) {
  // Endless, or announcing a length beyond the limit: either way the next host is asked.
  for (const bool announced : {false, true}) {
    SCOPED_TRACE(announced ? "announced" : "endless");
    hosts_.log->clear();
    hosts_.second.setHandler([announced](const httplib::Request&, httplib::Response& response) {
      // Owned by the handler's copy: the host may still be writing when the test has moved on.
      auto chunk = std::make_shared<std::string>(65536, ' ');
      auto provide = [chunk](std::size_t, std::size_t, httplib::DataSink& sink) {
        return sink.write(chunk->data(), chunk->size());
      };
      if (announced) {
        response.set_content_provider(CloudConfig::kMaxAnswerBytes + 1, "application/json", provide);
      } else {
        response.set_chunked_content_provider(
            "application/json", [provide](std::size_t offset, httplib::DataSink& sink) { return provide(offset, 0, sink); });
      }
    });
    auto config = start();
    settle(config);
    EXPECT_EQ(requestedHosts(), (std::vector<std::string>{"second", "third"}));
    EXPECT_EQ(config->lastSource(), Source::Remote);
  }
  EXPECT_EQ(sink_.sent(), (std::vector<std::string>{"errCloudConfigDownload"}));  // sent once per process
  EXPECT_NE(console_->text().find("NSURLErrorDomain -1103 resource exceeds maximum size"), std::string::npos);
}

TEST_F(CloudConfigTest, AnAnswerHoldingNullIsUsedButLeavesTheCachedPairAsItWas) {
  const Value oldConfig = foundation::Dictionary{{"cloudConfig", foundation::Dictionary{{"v", 1}}}};
  ASSERT_TRUE(setScrambled(*defaults_, oldConfig, CloudConfig::kDataKey, CloudConfig::kScrambleKey));
  ASSERT_TRUE(setScrambled(*defaults_, Value("https://old.invalid/c.json"), CloudConfig::kBaseKey,
                           CloudConfig::kScrambleKey));
  hosts_.second.setHandler(answer(200, R"({"cloudConfig": {"v": 2, "gap": [null]}})"));
  auto config = start();
  settle(config);

  EXPECT_EQ(*sources_, (std::vector<Source>{Source::Local, Source::Remote}));
  EXPECT_EQ(config->value("v")->integer(), 2);
  EXPECT_EQ(scrambledObject(*defaults_, CloudConfig::kDataKey, CloudConfig::kScrambleKey), oldConfig);
  EXPECT_EQ(scrambledObject(*defaults_, CloudConfig::kBaseKey, CloudConfig::kScrambleKey),
            Value("https://old.invalid/c.json"));
}

TEST_F(CloudConfigTest, LookupsFollowSectionsAndNeedABaseURL) {
  hosts_.third.setHandler(answer(500, "down"));
  auto empty = start();
  EXPECT_FALSE(empty->value("analyticsEnabled"));
  EXPECT_FALSE(empty->value("lists", std::nullopt));
  settle(empty);
  empty.reset();

  const Value cached = foundation::JSONSerialization::JSONObjectWithData(
                           R"({"cloudConfig": {"k": "v", "n": 0}, "lists": [1], "other": [2]})")
                           .valueOr(Value());
  ASSERT_TRUE(setScrambled(*defaults_, cached, CloudConfig::kDataKey, CloudConfig::kScrambleKey));
  // Data without a base is no cache at all.
  auto noBase = start();
  EXPECT_FALSE(noBase->rawConfig());
  settle(noBase);
  noBase.reset();

  ASSERT_TRUE(setScrambled(*defaults_, Value("https://h.invalid/a/config.json"), CloudConfig::kBaseKey,
                           CloudConfig::kScrambleKey));
  auto config = start();
  EXPECT_EQ(config->value("k")->string(), "v");
  EXPECT_EQ(config->value("n")->boolean(), false);
  EXPECT_FALSE(config->value("missing"));
  EXPECT_EQ(config->value("lists", std::nullopt)->raw, Value(foundation::Array{1}));
  EXPECT_FALSE(config->value("k", std::string_view("other")));  // a section that is a list
  EXPECT_EQ(config->value("k")->baseUrl.absoluteString(), "https://h.invalid/a/config.json");
  settle(config);
}

}  // namespace
}  // namespace tovel
