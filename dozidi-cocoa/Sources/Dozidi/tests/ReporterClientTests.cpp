// The client, the hub and the SDK's start-up, against a loopback ingestion server.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiBaseIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiGlobalEventProcessor.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/PrivateDozidiSDKOnly.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiException.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMechanism.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMessage.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSession.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiInstallation.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiRandom.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "dozidi-cocoa/Sources/Dozidi/tests/InstallationTesting.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/tests/TemporaryDeviceRoot.h"
#include "testing/Gzip.h"
#include "testing/IngestionServer.h"

namespace {

using namespace std::chrono_literals;
using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

constexpr const char* kKey = "0123456789abcdef0123456789abcdef";

std::string gunzip(const std::string& bytes) { return testing_support::gunzip(bytes).value_or(""); }

/// The items of one upload: their type and parsed payload.
struct SentItem {
  std::string type;
  Value payload;
};
std::vector<SentItem> itemsOf(const testing_support::IngestionRequest& request) {
  std::vector<SentItem> items;
  auto envelope = DozidiSerialization::envelopeWithData(gunzip(request.body));
  if (!envelope) return items;
  for (const auto& item : envelope->items()) {
    auto parsed = foundation::JSONSerialization::JSONObjectWithData(item->data().view());
    items.push_back({item->header().type, parsed ? *parsed : Value()});
  }
  return items;
}

class FixedRandom final : public DozidiRandom {
 public:
  explicit FixedRandom(double value) : value_(value) {}
  double nextNumber() override { return value_; }

 private:
  double value_;
};

/// Records installs and uninstalls in one shared journal.
std::vector<std::string>& journal() {
  static std::vector<std::string> entries;
  return entries;
}

template <std::uint32_t Mask>
class RecordingIntegration : public DozidiBaseIntegration {
 public:
  explicit RecordingIntegration(std::string name) : name_(std::move(name)) {}
  std::string integrationName() const override { return name_; }
  std::uint32_t integrationOptions() const override { return Mask; }
  bool installWithOptions(const DozidiOptions& options) override {
    if (!shouldBeEnabledWithOptions(options)) return false;
    journal().push_back("install " + name_);
    return true;
  }
  void uninstall() override { journal().push_back("uninstall " + name_); }

 private:
  std::string name_;
};

using SessionsIntegration = RecordingIntegration<kIntegrationOptionEnableAutoSessionTracking>;
using HangsIntegration = RecordingIntegration<kIntegrationOptionEnableAppHangTracking>;
using PlainIntegration = RecordingIntegration<kIntegrationOptionNone>;

class ReporterClientTests : public foundation::test_support::TemporaryDeviceRoot {
 protected:
  static void SetUpTestSuite() {
    DozidiSDK::registerIntegration(
        "DozidiAutoSessionTrackingIntegration",
        [] { return std::make_shared<SessionsIntegration>("DozidiAutoSessionTrackingIntegration"); },
        [](const DozidiIntegration& i) { return dynamic_cast<const SessionsIntegration*>(&i) != nullptr; });
    DozidiSDK::registerIntegration(
        "DozidiANRTrackingIntegration",
        [] { return std::make_shared<HangsIntegration>("DozidiANRTrackingIntegration"); },
        [](const DozidiIntegration& i) { return dynamic_cast<const HangsIntegration*>(&i) != nullptr; });
    DozidiSDK::registerIntegration(
        "DozidiCrashIntegration", [] { return std::make_shared<PlainIntegration>("DozidiCrashIntegration"); },
        [](const DozidiIntegration& i) { return dynamic_cast<const PlainIntegration*>(&i) != nullptr; });
  }

  void SetUp() override {
    TemporaryDeviceRoot::SetUp();
    DozidiLog::configure(true, DozidiEventLevel::Debug);
    journal().clear();
    DozidiSDK::setCrashedLastRunCalled(false);
    resetCachedInstallationIdForTesting();
  }
  void TearDown() override {
    DozidiSDK::close();
    DozidiGlobalEventProcessor::shared().removeAllProcessors();
    DozidiLog::configure(false, DozidiEventLevel::Error);
    TemporaryDeviceRoot::TearDown();
  }

  std::string dsn() const { return server.dsn(kKey, "/42"); }

  /// Starts with the server's DSN, a release and `configure`'s changes.
  void start(const std::function<void(DozidiOptions&)>& configure = {}) {
    DozidiSDK::startWithConfigureOptions([&](DozidiOptions& options) {
      options.setDsn(dsn());
      options.releaseName = "com.morvit.Fendrel@1.0+7";
      if (configure) configure(options);
    });
    ASSERT_TRUE(DozidiSDK::isEnabled());
  }
  void flush() { DozidiSDK::flush(30); }
  /// Every item uploaded so far, in order.
  std::vector<SentItem> sent() const {
    std::vector<SentItem> all;
    for (const auto& request : server.requests()) {
      for (auto& item : itemsOf(request)) all.push_back(std::move(item));
    }
    return all;
  }
  std::vector<Dictionary> sentEvents() const {
    std::vector<Dictionary> events;
    for (const auto& item : sent()) {
      if (item.type == "event" && item.payload.dictionary()) events.push_back(*item.payload.dictionary());
    }
    return events;
  }

  testing_support::IngestionServer server;
};

TEST_F(ReporterClientTests, MessagesErrorsAndExceptionsArriveEnriched) {
  start([](DozidiOptions& options) { options.environment = "staging"; });
  DozidiSDK::configureScope([](DozidiScope& scope) {
    scope.setContextValue(Dictionary{{"model", "desk"}}, "device");
  });
  DozidiSDK::captureMessage("hello");
  DozidiSDK::captureError(foundation::Error("NetDomain", 7));
  DozidiSDK::captureException(DozidiNSException{"RangeError", "index 3 beyond 2", Dictionary{{"index", 3}}});
  flush();

  const auto events = sentEvents();
  ASSERT_EQ(events.size(), 3u);
  for (const auto& event : events) {
    EXPECT_EQ(event["platform"], Value("cocoa"));
    EXPECT_EQ(event["environment"], Value("staging"));
    EXPECT_EQ(event["release"], Value("com.morvit.Fendrel@1.0+7"));
    EXPECT_EQ(event["user"]["id"], Value(DozidiInstallation::id()));
    EXPECT_EQ(event["sdk"]["integrations"], Value(Array{"AutoSessionTracking", "Crash"}));
    EXPECT_EQ(event["contexts"]["device"]["model"], Value("desk"));
    EXPECT_TRUE(event["contexts"]["device"]["free_memory"].asUInt64());
    EXPECT_TRUE(event["contexts"]["app"]["app_memory"].asUInt64());
    EXPECT_EQ(event["contexts"]["app"]["permissions"]["push_notifications"], Value("unknown"));
    EXPECT_TRUE(event["contexts"]["culture"]["timezone"].string());
  }
  EXPECT_EQ(events[0]["level"], Value("info"));
  EXPECT_EQ(events[0]["message"]["formatted"], Value("hello"));
  EXPECT_EQ(events[1]["level"], Value("error"));
  EXPECT_EQ(events[1]["exception"]["values"][0]["type"], Value("NetDomain"));
  EXPECT_EQ(events[1]["exception"]["values"][0]["value"], Value("Code: 7"));
  EXPECT_EQ(events[1]["exception"]["values"][0]["mechanism"]["type"], Value("NSError"));
  EXPECT_EQ(events[2]["exception"]["values"][0]["type"], Value("RangeError"));
  EXPECT_EQ(events[2]["exception"]["values"][0]["value"], Value("index 3 beyond 2"));
  EXPECT_EQ(events[2]["contexts"]["user info"]["index"], Value(3));
}

TEST_F(ReporterClientTests, TheOptionsFillOnlyWhatTheEventLacksExceptTheDist) {
  start([](DozidiOptions& options) {
    options.environment = "staging";
    options.dist = "from-options";
  });
  auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Warning);
  event->environment = "own";
  event->releaseName = "own@2";
  event->dist = "own";
  DozidiSDK::captureEvent(event);
  // A scope block changes a copy: the hub's scope keeps its tags.
  DozidiSDK::configureScope([](DozidiScope& scope) { scope.setTagValue("kept", "t"); });
  DozidiSDK::captureMessage("m", [](DozidiScope& scope) { scope.clear(); });
  flush();
  const auto events = sentEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0]["environment"], Value("own"));
  EXPECT_EQ(events[0]["release"], Value("own@2"));
  EXPECT_EQ(events[0]["dist"], Value("from-options"));
  EXPECT_TRUE(events[1]["tags"]["t"].isAbsent());
  EXPECT_EQ(DozidiSDK::currentHub()->scope()->tags()["t"], Value("kept"));
}

TEST_F(ReporterClientTests, DroppedEventsAreCountedInTheNextEnvelope) {
  DozidiDependencyContainer::sharedInstance()->setRandom(std::make_shared<FixedRandom>(0.5));
  std::atomic<int> beforeSendCalls = 0;
  start([&](DozidiOptions& options) {
    options.setSampleRate(0.5);  // a draw equal to the rate is kept
    options.beforeSend = [&](std::shared_ptr<DozidiEvent> event) -> std::shared_ptr<DozidiEvent> {
      ++beforeSendCalls;
      return event->message && event->message->formatted() == "drop" ? nullptr : event;
    };
  });
  DozidiGlobalEventProcessor::shared().addEventProcessor([](std::shared_ptr<DozidiEvent> event) {
    return event->message && event->message->formatted() == "processor" ? nullptr : event;
  });
  DozidiSDK::captureMessage("drop");
  DozidiSDK::captureMessage("processor");
  DozidiSDK::captureMessage("kept");
  EXPECT_EQ(beforeSendCalls, 2);  // a processor's drop skips before-send
  DozidiSDK::currentHub()->getClient()->options()->setSampleRate(0.25);
  DozidiSDK::captureMessage("sampled");
  DozidiSDK::currentHub()->getClient()->options()->setSampleRate(std::nullopt);
  DozidiSDK::captureMessage("last");
  flush();

  const auto items = sent();
  std::vector<std::string> reasons;
  std::vector<std::string> messages;
  for (const auto& item : items) {
    if (item.type == "event") messages.push_back(*item.payload["message"]["formatted"].string());
    if (item.type != "client_report") continue;
    for (const auto& entry : *item.payload["discarded_events"].array()) {
      reasons.push_back(*entry["reason"].string() + ":" + *entry["category"].string() + ":" +
                        std::to_string(*entry["quantity"].asInt64()));
    }
  }
  EXPECT_EQ(messages, (std::vector<std::string>{"kept", "last"}));
  std::sort(reasons.begin(), reasons.end());
  EXPECT_EQ(reasons, (std::vector<std::string>{"before_send:error:1", "event_processor:error:1", "sample_rate:error:1"}));
}

TEST_F(ReporterClientTests, CrashedLastRunRunsOnceAcrossEightThreads) {
  std::atomic<int> calls = 0;
  start([&](DozidiOptions& options) { options.onCrashedLastRun = [&](std::shared_ptr<DozidiEvent>) { ++calls; }; });
  auto client = DozidiSDK::currentHub()->getClient();
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Fatal);
      (void)client->prepareEvent(event, *DozidiScope::create(), false, true);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(calls, 1);
}

TEST_F(ReporterClientTests, OutOfMemoryCrashesLoseTheMemoryFigures) {
  start();
  auto scope = DozidiScope::create();
  scope->setContextValue(Dictionary{{"free_memory", 1}, {"model", "desk"}}, "device");
  scope->setContextValue(Dictionary{{"app_memory", 2}}, "app");
  auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Fatal);
  auto exception = DozidiException::initWithValue("oom", "OOM");
  exception->mechanism = DozidiMechanism::initWithType("out_of_memory");
  event->exceptions = std::vector{exception};
  auto prepared = DozidiSDK::currentHub()->getClient()->prepareEvent(event, *scope, false, true);
  ASSERT_TRUE(prepared);
  EXPECT_TRUE((*prepared->context)["device"]["free_memory"].isAbsent());
  EXPECT_EQ((*prepared->context)["device"]["model"], Value("desk"));
  EXPECT_TRUE((*prepared->context)["app"]["app_memory"].isAbsent());
}

TEST_F(ReporterClientTests, SessionsStartBeforeThePreviousEndsAndCountErrors) {
  start();
  auto hub = DozidiSDK::currentHub();
  auto fileManager = hub->getClient()->fileManager();
  hub->startSession();
  EXPECT_TRUE(foundation::FileManager::defaultManager().fileExists(fileManager->currentSessionFilePath()));
  const auto first = hub->session()->sessionId();
  hub->startSession();
  const auto second = hub->session()->sessionId();
  // A warning in an envelope leaves the count alone; an error raises it and adds the session.
  auto warning = DozidiEvent::initWithLevel(DozidiEventLevel::Warning);
  hub->captureEnvelope(DozidiEnvelope::initWithEvent(*warning));
  auto error = DozidiEvent::initWithLevel(DozidiEventLevel::Error);
  hub->captureEnvelope(DozidiEnvelope::initWithEvent(*error));
  DozidiSDK::captureError(foundation::Error("D", 1));
  hub->endSession();
  EXPECT_FALSE(foundation::FileManager::defaultManager().fileExists(fileManager->currentSessionFilePath()));
  flush();

  std::vector<std::string> sessions;
  for (const auto& item : sent()) {
    if (item.type != "session") continue;
    const auto id = *item.payload["sid"].string();
    sessions.push_back((id == first.uuidString() ? "first " : id == second.uuidString() ? "second " : "? ") +
                       *item.payload["status"].string() + " " + std::to_string(*item.payload["errors"].asInt64()));
  }
  EXPECT_EQ(sessions, (std::vector<std::string>{"first ok 0", "second ok 0", "first exited 0", "second ok 1",
                                                "second ok 2", "second exited 2"}));
}

class CrashedLastLaunch final : public DozidiCrashWrapper {
 public:
  bool crashedLastLaunch() override { return true; }
};

TEST_F(ReporterClientTests, TheCachedSessionClosesUnlessTheLastLaunchCrashed) {
  start();
  auto client = DozidiSDK::currentHub()->getClient();
  auto fileManager = client->fileManager();
  auto stored = DozidiSession::initWithReleaseName("com.morvit.Fendrel@1.0+7");
  fileManager->storeCurrentSession(*stored);

  auto afterCrash = DozidiHub::initWithClient(client, nullptr, std::make_shared<CrashedLastLaunch>(),
                                              DozidiDefaultCurrentDateProvider::sharedInstance());
  afterCrash->closeCachedSessionWithTimestamp(std::nullopt);
  ASSERT_TRUE(fileManager->readCurrentSession());

  DozidiSDK::currentHub()->closeCachedSessionWithTimestamp(std::nullopt);
  EXPECT_FALSE(fileManager->readCurrentSession());
  // A crash event goes out with the crashed session, which is then deleted.
  fileManager->storeCrashedSession(*stored);
  DozidiSDK::captureCrashEvent(DozidiEvent::initWithLevel(DozidiEventLevel::Fatal));
  EXPECT_FALSE(fileManager->readCrashedSession());
  flush();
  std::vector<std::string> types;
  for (const auto& item : sent()) {
    types.push_back(item.type + (item.type == "session" ? " " + *item.payload["status"].string() : ""));
  }
  EXPECT_EQ(types, (std::vector<std::string>{"session abnormal", "event", "session ok"}));
}

TEST_F(ReporterClientTests, WithOnlyADsnIntegrationsInstallInListOrderByTheirOptions) {
  LogCapture log;
  DozidiSDK::startWithConfigureOptions([&](DozidiOptions& options) {
    options.setDsn(dsn());
    options.debug = true;
    options.enableAppHangTracking = true;
    options.appHangTimeoutInterval = 0;
    options.setIntegrations({"DozidiAutoSessionTrackingIntegration", "DozidiANRTrackingIntegration", "Missing",
                             "DozidiCrashIntegration", "DozidiAutoSessionTrackingIntegration"});
  });
  EXPECT_TRUE(DozidiSDK::currentHub()->getClient());
  EXPECT_EQ(journal(), (std::vector<std::string>{"install DozidiAutoSessionTrackingIntegration",
                                                 "install DozidiCrashIntegration"}));
  const auto lines = log.lines();
  const auto logged = [&](const std::string& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const auto& line) { return line.find(text) != std::string::npos; });
  };
  EXPECT_TRUE(logged("Not going to enable DozidiANRTrackingIntegration because appHangTimeoutInterval is 0."));
  EXPECT_TRUE(logged("couldn't find \"Missing\" -> skipping."));
  EXPECT_TRUE(logged("already installed \"DozidiAutoSessionTrackingIntegration\" -> skipping."));

  // A second start uninstalls what the replaced hub had installed before installing again.
  journal().clear();
  start([](DozidiOptions& options) { options.setIntegrations({"DozidiCrashIntegration"}); });
  EXPECT_EQ(journal(), (std::vector<std::string>{"uninstall DozidiAutoSessionTrackingIntegration",
                                                 "uninstall DozidiCrashIntegration", "install DozidiCrashIntegration"}));
}

TEST_F(ReporterClientTests, NoDsnStartsNothingAndSaysWhy) {
  LogCapture log;
  DozidiSDK::startWithOptions(Dictionary{});
  EXPECT_FALSE(DozidiSDK::isEnabled());
  EXPECT_TRUE(journal().empty());
  const auto lines = log.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_NE(lines[lines.size() - 2].find("Error while initializing the SDK"), std::string::npos);
  EXPECT_EQ(DozidiSDK::captureMessage("nobody listens"), DozidiId::empty());
}

TEST_F(ReporterClientTests, StartMovesThePreviousRunsStateAside) {
  auto options = DozidiOptions::create();
  options->setDsn(dsn());
  auto fileManager = DozidiFileManager::initWithOptions(*options, DozidiDefaultCurrentDateProvider::sharedInstance(),
                                                        nullptr, nullptr);
  ASSERT_TRUE(fileManager);
  auto& files = foundation::FileManager::defaultManager();
  ASSERT_TRUE(files.writeFileAtomically(fileManager->appStateFilePath(), std::string_view("{}")).ok());
  ASSERT_TRUE(files.writeFileAtomically(fileManager->breadcrumbsFilePathOne(), std::string_view("{}\n")).ok());
  start();
  EXPECT_FALSE(files.fileExists(fileManager->appStateFilePath()));
  EXPECT_TRUE(files.fileExists(fileManager->previousAppStateFilePath()));
  EXPECT_FALSE(files.fileExists(fileManager->breadcrumbsFilePathOne()));
  EXPECT_TRUE(files.fileExists(fileManager->previousBreadcrumbsFilePathOne()));

  // The installation file is made on first use, directly in the caches folder: the first session
  // of the started SDK carries the id the file holds.
  const std::string installation = files.cachesDirectory().path() + "/INSTALLATION";
  EXPECT_FALSE(files.fileExists(installation));
  DozidiSDK::startSession();
  auto stored = files.readFile(installation);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->bytes(), PrivateDozidiSDKOnly::installationID());
  auto session = fileManager->readCurrentSession();
  ASSERT_TRUE(session);
  EXPECT_EQ(session->distinctId(), stored->bytes());
}

TEST_F(ReporterClientTests, HybridLayersReachTheOptionsTheAppStartAndTheCache) {
  EXPECT_FALSE(PrivateDozidiSDKOnly::options()->parsedDsn());  // defaults before start
  start();
  EXPECT_EQ(PrivateDozidiSDKOnly::options(), DozidiSDK::currentHub()->getClient()->options());

  std::shared_ptr<const DozidiAppStartMeasurement> seen;
  PrivateDozidiSDKOnly::setOnAppStartMeasurementAvailable([&](auto measurement) { seen = measurement; });
  auto measurement = std::make_shared<DozidiAppStartMeasurement>(DozidiAppStartMeasurement::initWithType(
      DozidiAppStartType::Cold, foundation::Date(), 1.5, foundation::Date(), foundation::Date()));
  DozidiSDK::setAppStartMeasurement(measurement);
  PrivateDozidiSDKOnly::setOnAppStartMeasurementAvailable(nullptr);
  EXPECT_EQ(seen, measurement);
  EXPECT_EQ(PrivateDozidiSDKOnly::appStartMeasurement(), measurement);

  // An envelope read back from its text goes out through the reporter.
  auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Warning);
  event->message = DozidiMessage::initWithFormatted("from outside");
  auto text = DozidiSerialization::dataWithEnvelope(*DozidiEnvelope::initWithEvent(*event), nullptr);
  ASSERT_TRUE(text);
  EXPECT_FALSE(PrivateDozidiSDKOnly::envelopeWithData("not an envelope"));
  PrivateDozidiSDKOnly::captureEnvelope(PrivateDozidiSDKOnly::envelopeWithData(text->bytes()));
  flush();
  const auto events = sentEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["message"]["formatted"], Value("from outside"));
}

}  // namespace
