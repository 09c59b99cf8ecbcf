#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiException.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMechanism.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSession.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiDsn.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiHttpTransport.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiNSURLRequestBuilder.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiReachability.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiRequestManager.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiTransportFactory.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/URLResponse.h"
#include "platform/foundation/URLSession.h"
#include "platform/foundation/tests/TemporaryDeviceRoot.h"
#include "testing/Gzip.h"
#include "testing/IngestionServer.h"
#include "testing/ScopedLocale.h"
#include "testing/ScopedManualClock.h"

namespace {

using namespace std::chrono_literals;
using testing_support::IngestionAnswer;
using testing_support::IngestionRequest;

constexpr const char* kKey = "0123456789abcdef0123456789abcdef";

foundation::FileManager& files() { return foundation::FileManager::defaultManager(); }

std::string gunzip(const std::string& bytes) { return testing_support::gunzip(bytes).value_or("<not gzip>"); }

std::shared_ptr<const DozidiEnvelope> envelopeOf(const IngestionRequest& request) {
  return DozidiSerialization::envelopeWithData(gunzip(request.body));
}

/// "<type>" per item, and the event id of an event envelope first.
std::string summary(const DozidiEnvelope& envelope) {
  std::string text = envelope.header().eventId() ? envelope.header().eventId()->dozidiIdString() : "-";
  for (const auto& item : envelope.items()) text += " " + item->header().type;
  return text;
}

// Delayed blocks run at once: these scenarios are about which upload happens in what order,
// not about the pause between two uploads.
class ImmediateQueueWrapper final : public DozidiDispatchQueueWrapper {
 public:
  static std::shared_ptr<ImmediateQueueWrapper> make() {
    return std::shared_ptr<ImmediateQueueWrapper>(new ImmediateQueueWrapper());
  }
  void dispatchAfter(double, std::shared_ptr<DozidiDispatchBlock> block) override {
    dispatchAsyncWithBlock([block] { block->perform(); });
  }

 private:
  ImmediateQueueWrapper() : DozidiDispatchQueueWrapper("dozidi-http-transport") {}
};

class ReporterTransportTests : public foundation::test_support::TemporaryDeviceRoot {
 protected:
  void TearDown() override {
    transport.reset();
    EXPECT_LE(server.mostInFlight(), 1);
    TemporaryDeviceRoot::TearDown();
  }

  std::string plainDsn() const { return server.dsn(kKey, "/42"); }
  std::string secretDsn() const { return server.dsn("k:s3cr3t", "/sub/dir/42"); }

  void start(const std::string& dsn, std::uint64_t maxCacheItems = 30,
             std::shared_ptr<DozidiRequestManager> requestManager = nullptr,
             std::shared_ptr<DozidiReachability> reachability = nullptr) {
    transport.reset();
    options = DozidiOptions::create();
    options->setDsn(dsn);
    options->maxCacheItems = maxCacheItems;
    fileManager = DozidiFileManager::initWithOptions(*options, DozidiDefaultCurrentDateProvider::sharedInstance(),
                                                     nullptr, nullptr);
    auto session = foundation::URLSession::create(foundation::URLSessionConfiguration::ephemeralSessionConfiguration());
    auto rateLimits = std::make_shared<DozidiDefaultRateLimits>(DozidiRetryAfterHeaderParser(DozidiHttpDateParser()),
                                                                DozidiRateLimitParser());
    if (!requestManager) requestManager = DozidiQueueableRequestManager::initWithSession(session);
    transport = DozidiHttpTransport::initWithOptions(
        options, fileManager, requestManager, std::make_shared<DozidiNSURLRequestBuilder>(), rateLimits,
        std::make_shared<DozidiEnvelopeRateLimit>(rateLimits), ImmediateQueueWrapper::make(), std::move(reachability));
  }

  std::shared_ptr<const DozidiEnvelope> sendEvent() {
    auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Error);
    auto envelope = DozidiEnvelope::initWithEvent(*event);
    transport->sendEnvelope(envelope);
    return envelope;
  }
  /// An unhandled fatal event, as converted from a crash report.
  std::shared_ptr<const DozidiEnvelope> sendCrash() {
    auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Fatal);
    auto exception = DozidiException::initWithValue("Signal 11, Code 1", "SIGSEGV");
    exception->mechanism = DozidiMechanism::initWithType("signal");
    exception->mechanism->handled = false;
    event->exceptions = std::vector{exception};
    auto envelope = DozidiEnvelope::initWithEvent(*event);
    transport->sendEnvelope(envelope);
    return envelope;
  }
  void sendSession() {
    transport->sendEnvelope(DozidiEnvelope::initWithSessions({DozidiSession::initWithReleaseName("1.0")}));
  }
  /// Flushes with a time-out the manual clock never reaches by itself.
  void flush() { ASSERT_TRUE(transport->flush(60)); }

  std::vector<std::string> storedFiles() const { return *files().contentsOfDirectory(fileManager->envelopesPath()); }
  std::vector<std::string> sent(std::size_t from = 0) const {
    std::vector<std::string> all;
    const auto requests = server.requests();
    for (std::size_t i = from; i < requests.size(); ++i) {
      const auto envelope = envelopeOf(requests[i]);
      all.push_back(envelope ? summary(*envelope) : "<unreadable>");
    }
    return all;
  }

  testing_support::ScopedManualClock clock;
  testing_support::IngestionServer server;
  std::shared_ptr<DozidiOptions> options;
  std::shared_ptr<DozidiFileManager> fileManager;
  std::shared_ptr<DozidiHttpTransport> transport;
};

TEST_F(ReporterTransportTests, EveryUploadCarriesTheServiceHeadersAndTheCachedTextGzipped) {
  struct Case {
    std::string dsn, path, authTail;
  };
  const Case cases[] = {
      {plainDsn(), "/api/42/envelope/", std::string(",dozidi_key=") + kKey},
      {secretDsn(), "/sub/dir/api/42/envelope/", ",dozidi_key=k,dozidi_secret=s3cr3t"},
  };
  const std::regex auth(R"(Dozidi dozidi_version=7,dozidi_client=dozidi\.cocoa/7\.31\.5,dozidi_timestamp=(\d+),(.*))");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dsn);
    start(c.dsn);
    const auto before = std::chrono::system_clock::now();
    const auto envelope = sendEvent();
    flush();
    const auto after = std::chrono::system_clock::now();
    EXPECT_TRUE(storedFiles().empty());

    const auto request = server.requests().back();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, c.path);
    EXPECT_EQ(request.header("Content-Type"), "application/x-dozidi-envelope");
    EXPECT_EQ(request.header("Content-Encoding"), "gzip");
    EXPECT_EQ(request.header("User-Agent"), "dozidi.cocoa");
    std::smatch match;
    const auto header = request.header("X-Dozidi-Auth");
    ASSERT_TRUE(std::regex_match(header, match, auth)) << header;
    const auto seconds = std::stoll(match[1]);
    EXPECT_GE(seconds, std::chrono::duration_cast<std::chrono::seconds>(before.time_since_epoch()).count());
    EXPECT_LE(seconds, std::chrono::duration_cast<std::chrono::seconds>(after.time_since_epoch()).count());
    EXPECT_EQ("," + match[2].str(), c.authTail);
    ASSERT_GE(request.body.size(), 2u);
    EXPECT_EQ(request.body.substr(0, 2), "\x1f\x8b");
    EXPECT_EQ(gunzip(request.body), std::string(DozidiSerialization::dataWithEnvelope(*envelope, nullptr)->view()));
  }
}

TEST_F(ReporterTransportTests, WhileTheServerIsDownEnvelopesWaitInCaptureOrderAndThenGoOutInThatOrder) {
  start(plainDsn());
  server.stop();
  std::vector<std::string> captured;
  for (int i = 0; i < 3; ++i) captured.push_back(summary(*sendEvent()));
  flush();

  const auto names = storedFiles();
  ASSERT_EQ(names.size(), 3u);
  std::vector<std::string> stored;
  for (const auto& contents : fileManager->getAllEnvelopes()) {
    stored.push_back(summary(*DozidiSerialization::envelopeWithData(contents.contents().view())));
  }
  EXPECT_EQ(stored, captured);

  ASSERT_TRUE(server.start());
  flush();
  EXPECT_EQ(sent(), captured);
  EXPECT_TRUE(storedFiles().empty());
}

// Neither a refused connection nor one closed without an answer loses the envelope, and the
// envelope is not counted as lost either: it is delivered later.
TEST_F(ReporterTransportTests, NoAnswerKeepsTheFile) {
  start(plainDsn());
  server.stop();
  const auto envelope = sendEvent();
  flush();
  EXPECT_EQ(storedFiles().size(), 1u);

  ASSERT_TRUE(server.start());
  server.enqueue(IngestionAnswer{.dropConnection = true});
  flush();
  EXPECT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(storedFiles().size(), 1u);

  flush();
  EXPECT_EQ(sent(), (std::vector<std::string>{summary(*envelope), summary(*envelope)}));
  EXPECT_TRUE(storedFiles().empty());
}

// After the first answer, an error event and a session are offered at `later` seconds and an
// error event again at `free` seconds (none: not tried). A limited envelope is neither stored nor
// sent. 429 and 500 answers delete the file without counting anything as lost.
TEST_F(ReporterTransportTests, RateLimitsFromTheAnswers) {
  struct Case {
    const char* name;
    IngestionAnswer answer;
    double later;
    bool errorSent, sessionSent;
    std::optional<double> free;
    bool german = false;
  };
  const auto with = [](int status, std::vector<std::pair<std::string, std::string>> headers) {
    return IngestionAnswer{.status = status, .headers = std::move(headers)};
  };
  const Case cases[] = {
      {"per category", with(200, {{"X-Dozidi-Rate-Limits", "60:error;transaction:org, 2700:transaction"}}), 10,
       false, true, 60},
      {"header name in lower case", with(200, {{"x-dozidi-rate-limits", "60:error"}}), 59, false, true, 60},
      {"empty category limits everything", with(200, {{"X-Dozidi-Rate-Limits", "30::org"}}), 29, false, false, 30},
      {"429 with seconds", with(429, {{"Retry-After", "120"}}), 119, false, false, 120},
      {"429 with a past date", with(429, {{"Retry-After", "Wed, 21 Oct 2015 07:28:00 GMT"}}), 0, true, true, {}},
      {"429 with a future date", with(429, {{"Retry-After", "Tue, 14 Nov 2023 22:15:00 GMT"}}), 99, false, false,
       100},
      {"429 with a future date, German locale", with(429, {{"Retry-After", "Tue, 14 Nov 2023 22:15:00 GMT"}}), 99,
       false, false, 100, true},
      {"429 without Retry-After", with(429, {}), 59, false, false, 60},
      {"429 with both headers", with(429, {{"X-Dozidi-Rate-Limits", "60:transaction"}, {"Retry-After", "120"}}), 10,
       true, true, {}},
      {"500", with(500, {}), 0, true, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<testing_support::ScopedLocale> locale;
    if (c.german) {
      locale.emplace("de_DE.UTF-8");
      if (!locale->active()) {
        std::cout << "German locale unavailable: " << locale->whyNot() << "\n";
        continue;
      }
    }
    clock->setWallTime(dispatch::ManualClock::kDefaultWallTime);
    start(plainDsn());
    const auto first = server.requests().size();
    server.enqueue(c.answer);
    sendEvent();
    flush();
    EXPECT_TRUE(storedFiles().empty());

    clock->advance(c.later);
    const auto error = summary(*sendEvent());
    sendSession();
    flush();
    EXPECT_TRUE(storedFiles().empty());
    const auto later = sent(first + 1);
    std::size_t at = 0;
    if (c.errorSent) {
      EXPECT_EQ(later.size() > at ? later[at++] : "", error);
    }
    EXPECT_EQ(later.size() > at && later[at].find(" session") != std::string::npos, c.sessionSent);
    if (c.sessionSent) ++at;
    EXPECT_EQ(later.size(), at);

    if (c.free) {
      clock->advance(*c.free - c.later);
      const auto again = summary(*sendEvent());
      flush();
      ASSERT_EQ(sent(first + 1 + at).size(), 1u);
      EXPECT_EQ(sent(first + 1 + at)[0].substr(0, again.size()), again);
    }
    for (const auto& request : server.requests()) {
      EXPECT_EQ(gunzip(request.body).find("network_error"), std::string::npos);
    }
    transport.reset();
  }
}

// A crash is never dropped for a rate limit: a 429 keeps its file, and cycles pass over it until
// the limit ends (or, when the answer did not limit errors, until the next start). Ordinary
// envelopes are limited as always, and each crash is accepted exactly once.
TEST_F(ReporterTransportTests, ACrashAnswered429WaitsOnDiskUntilItCanGo) {
  const auto with = [](std::vector<std::pair<std::string, std::string>> headers) {
    return IngestionAnswer{.status = 429, .headers = std::move(headers)};
  };
  // Offered while the first crash waits: a second crash, an error event and a session.
  struct Case {
    const char* name;
    IngestionAnswer answer;
    std::size_t sentMeanwhile;  // the ordinary envelopes go or are dropped as the limits say
    bool secondWaits;           // the second crash waits too (else it went at once)
    bool restart;               // the waiting crashes go at the next start, not when the limit ends
  };
  const Case cases[] = {
      {"Retry-After", with({{"Retry-After", "60"}}), 0, true, false},
      {"no header", with({}), 0, true, false},
      {"errors limited by category", with({{"X-Dozidi-Rate-Limits", "60:error"}}), 1, true, false},
      {"errors not limited", with({{"X-Dozidi-Rate-Limits", "60:transaction"}}), 3, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    clock->setWallTime(dispatch::ManualClock::kDefaultWallTime);
    start(plainDsn());
    const auto first = server.requests().size();
    server.enqueue(c.answer);
    const auto crash = summary(*sendCrash());
    flush();
    ASSERT_EQ(sent(first), std::vector<std::string>{crash});
    EXPECT_EQ(storedFiles().size(), 1u);

    const auto second = summary(*sendCrash());
    sendEvent();
    sendSession();
    flush();
    EXPECT_EQ(sent(first + 1).size(), c.sentMeanwhile);
    EXPECT_EQ(storedFiles().size(), c.secondWaits ? 2u : 1u);

    if (c.restart) {
      start(plainDsn());
    } else {
      clock->advance(60);
    }
    flush();
    std::vector<std::string> expected{crash};
    if (c.secondWaits) expected.push_back(second);
    EXPECT_EQ(sent(first + 1 + c.sentMeanwhile), expected);
    EXPECT_TRUE(storedFiles().empty());
    flush();
    EXPECT_EQ(server.requests().size(), first + 1 + c.sentMeanwhile + expected.size());
    transport.reset();
  }
}

TEST_F(ReporterTransportTests, TheNextEnvelopeCarriesTheCountsOfWhatWasDropped) {
  start(plainDsn());
  server.enqueue(IngestionAnswer{.headers = {{"X-Dozidi-Rate-Limits", "60:error"}}});
  sendSession();
  flush();
  sendEvent();
  sendEvent();
  sendSession();
  flush();
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  const auto envelope = envelopeOf(requests[1]);
  ASSERT_EQ(summary(*envelope), "- session client_report");
  const auto report = foundation::JSONSerialization::JSONObjectWithData(envelope->items()[1]->data().view());
  const auto* events = (*report->dictionary())["discarded_events"].array();
  ASSERT_TRUE(events);
  ASSERT_EQ(events->size(), 1u);
  EXPECT_EQ(*foundation::JSONSerialization::dataWithJSONObject(*events->at(0), foundation::JSONWritingOptions::SortedKeys),
            R"({"category":"error","quantity":2,"reason":"ratelimit_backoff"})");
}

TEST_F(ReporterTransportTests, TheCountLimitKeepsTheNewestAndReportsTheRest) {
  start(plainDsn(), 3);
  server.stop();
  std::vector<std::string> captured;
  for (int i = 0; i < 5; ++i) {
    captured.push_back(summary(*sendEvent()));
    flush();
  }
  EXPECT_EQ(storedFiles().size(), 3u);
  ASSERT_TRUE(server.start());
  flush();
  // Counts taken after the last stored envelope was written travel with the next one.
  captured.push_back(summary(*sendEvent()));
  flush();

  std::uint64_t reported = 0;
  std::vector<std::string> delivered;
  for (const auto& request : server.requests()) {
    const auto envelope = envelopeOf(request);
    delivered.push_back(envelope->header().eventId()->dozidiIdString());
    for (const auto& item : envelope->items()) {
      if (item->header().type != "client_report") continue;
      const auto report = foundation::JSONSerialization::JSONObjectWithData(item->data().view());
      for (const auto& event : *(*report->dictionary())["discarded_events"].array()) {
        EXPECT_EQ(*(*event.dictionary())["reason"].string(), "cache_overflow");
        EXPECT_EQ(*(*event.dictionary())["category"].string(), "error");
        reported += *(*event.dictionary())["quantity"].asInt64();
      }
    }
  }
  std::vector<std::string> newest;
  for (std::size_t i = 2; i < captured.size(); ++i) newest.push_back(captured[i].substr(0, 32));
  EXPECT_EQ(delivered, newest);
  EXPECT_EQ(reported, 2u);
}

TEST_F(ReporterTransportTests, EntriesThatCannotBeSentNeverStallTheOnesBehindThem) {
  start(plainDsn());
  ASSERT_TRUE(files().createDirectory(fileManager->envelopesPath() + "/0000-folder", foundation::Intermediates::No).ok());
  ASSERT_TRUE(files().writeFileAtomically(fileManager->envelopesPath() + "/0001-garbage.json", std::string_view("?")).ok());
  const auto envelope = sendEvent();
  flush();
  EXPECT_EQ(sent(), std::vector<std::string>{summary(*envelope)});
  EXPECT_EQ(storedFiles(), std::vector<std::string>{"0000-folder"});
}

TEST_F(ReporterTransportTests, FlushAnswersWithinItsTimeOutOnlyAndOneAtATime) {
  start(plainDsn());
  server.enqueue(IngestionAnswer{.delay = 60s});
  sendEvent();
  bool firstFlush = true;
  std::thread waiting([&] { firstFlush = transport->flush(0.5); });
  ASSERT_TRUE(server.waitForRequests(1, 30s));
  while (clock->waiterCount() == 0) std::this_thread::yield();

  LogCapture log;
  DozidiLog::configure(true, DozidiEventLevel::Debug);
  EXPECT_FALSE(transport->flush(5));
  DozidiLog::configure(true, DozidiEventLevel::Error);
  bool told = false;
  for (const auto& line : log.lines()) told = told || line.find("Already flushing.") != std::string::npos;
  EXPECT_TRUE(told);

  clock->advance(0.5);
  waiting.join();
  EXPECT_FALSE(firstFlush);

  // The answer never comes; the file stays, and later flushes (not held back by the one that
  // timed out) deliver it. The first may only see the dropped upload end: a cycle that ends
  // without an answer ends a flush too.
  server.stop();
  ASSERT_TRUE(server.start());
  flush();
  flush();
  EXPECT_TRUE(storedFiles().empty());
  EXPECT_EQ(server.requests().size(), 2u);
}

// Answers without a network: each request gets the next scripted outcome at once.
struct ScriptedRequests final : DozidiRequestManager {
  struct Outcome {
    std::optional<int> status;  // none: no answer at all
    bool error;
  };
  std::mutex lock;
  std::deque<Outcome> script;
  std::vector<std::string> bodies;  // the envelope text of each request

  bool isReady() override { return true; }
  void addRequest(foundation::URLRequest request, DozidiRequestOperationFinished completionHandler) override {
    Outcome outcome{200, false};
    {
      std::lock_guard guard(lock);
      bodies.push_back(gunzip(std::string(request.httpBody()->view())));
      if (!script.empty()) {
        outcome = script.front();
        script.pop_front();
      }
    }
    std::shared_ptr<foundation::HTTPURLResponse> response;
    if (outcome.status) {
      response = std::make_shared<foundation::HTTPURLResponse>(request.url(), *outcome.status,
                                                               foundation::HTTPHeaderFields());
    }
    std::optional<foundation::Error> error;
    if (outcome.error) error = foundation::Error("NSURLErrorDomain", -1005);
    completionHandler(std::move(response), std::move(error));
  }
};

/// "category:reason:quantity" of each discarded-event entry of the envelope's client report.
std::vector<std::string> reported(const std::string& text) {
  std::vector<std::string> entries;
  const auto envelope = DozidiSerialization::envelopeWithData(text);
  for (const auto& item : envelope->items()) {
    if (item->header().type != "client_report") continue;
    const auto report = foundation::JSONSerialization::JSONObjectWithData(item->data().view());
    for (const auto& event : *(*report->dictionary())["discarded_events"].array()) {
      const auto& entry = *event.dictionary();
      entries.push_back(*entry["category"].string() + ":" + *entry["reason"].string() + ":" +
                        std::to_string(*entry["quantity"].asInt64()));
    }
  }
  return entries;
}

// Items are counted as lost to the network only when their file is deleted undelivered: an
// error that came with an answer other than 429. A 429, a plain 500 or no answer counts nothing.
TEST_F(ReporterTransportTests, WhatTheAnswerCountsAsLost) {
  auto requests = std::make_shared<ScriptedRequests>();
  // The envelope that gets no answer is tried twice: by its own cycle and by the flush's.
  requests->script = {{500, true},          {200, false}, {500, false}, {std::nullopt, true},
                      {std::nullopt, true}, {200, false}, {429, true}};
  start(plainDsn(), 30, requests);
  auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Error);
  const DozidiEnvelope withAttachment(
      DozidiEnvelopeHeader(event->eventId),
      {DozidiEnvelopeItem::initWithEvent(*event), std::make_shared<DozidiEnvelopeItem>(
                                                      DozidiEnvelopeItemHeader{"attachment", 1, "a.txt", std::nullopt},
                                                      foundation::Data("a"))});
  transport->sendEnvelope(std::make_shared<const DozidiEnvelope>(withAttachment));
  flush();
  EXPECT_TRUE(storedFiles().empty());
  for (int i = 0; i < 3; ++i) {
    sendSession();
    flush();
  }
  // The one without an answer is still there; it goes with the next cycle.
  EXPECT_EQ(storedFiles().size(), 1u);
  flush();
  EXPECT_TRUE(storedFiles().empty());
  sendSession();
  flush();
  clock->advance(60);  // past the 429's limit
  sendSession();
  flush();
  ASSERT_EQ(requests->bodies.size(), 8u);
  EXPECT_EQ(reported(requests->bodies[1]), (std::vector<std::string>{"attachment:network_error:1",
                                                                     "error:network_error:1"}));
  for (std::size_t i = 2; i < requests->bodies.size(); ++i) EXPECT_TRUE(reported(requests->bodies[i]).empty()) << i;

  // With client reports off nothing is counted at all.
  options->sendClientReports = false;
  requests->script = {{500, true}};
  sendEvent();
  flush();
  sendSession();
  flush();
  EXPECT_TRUE(reported(requests->bodies.back()).empty());
}

// A stand-in for the system's network watch that the test reports through.
struct Watch {
  std::mutex lock;
  DozidiReachabilityTarget::Callback callback;
  std::shared_ptr<dispatch::DispatchQueue> queue;
  void report(std::uint32_t flags) {
    std::lock_guard guard(lock);
    if (queue) queue->async([callback = callback, flags] { callback(flags); });
  }
};

class WatchTarget final : public DozidiReachabilityTarget {
 public:
  explicit WatchTarget(std::shared_ptr<Watch> watch) : watch_(std::move(watch)) {}
  void schedule(Callback callback, std::shared_ptr<dispatch::DispatchQueue> queue) override {
    std::lock_guard guard(watch_->lock);
    watch_->callback = std::move(callback);
    watch_->queue = std::move(queue);
  }
  void unschedule() override {
    std::lock_guard guard(watch_->lock);
    watch_->callback = nullptr;
    watch_->queue = nullptr;
  }

 private:
  std::shared_ptr<Watch> watch_;
};

TEST_F(ReporterTransportTests, WhenTheNetworkComesBackTheCacheIsSent) {
  auto watch = std::make_shared<Watch>();
  start(plainDsn(), 30, nullptr,
        DozidiReachability::create([watch](const std::string&) { return std::make_unique<WatchTarget>(watch); }));
  server.stop();
  const auto envelope = sendEvent();
  flush();
  ASSERT_TRUE(server.start());
  watch->report(0);
  watch->report(kDozidiReachabilityFlagsReachable);
  ASSERT_TRUE(server.waitForRequests(1, 30s));
  EXPECT_EQ(sent(), std::vector<std::string>{summary(*envelope)});
}

TEST_F(ReporterTransportTests, TheFactoryAssemblesAWorkingTransport) {
  clock->advance(0);
  options = DozidiOptions::create();
  options->setDsn(secretDsn());
  fileManager = DozidiFileManager::initWithOptions(*options, DozidiDefaultCurrentDateProvider::sharedInstance(),
                                                   nullptr, nullptr);
  ASSERT_TRUE(fileManager);
  // An envelope an earlier run left behind goes out as soon as the transport exists.
  auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Error);
  const auto left = DozidiEnvelope::initWithEvent(*event);
  ASSERT_TRUE(fileManager->storeEnvelope(*left));
  auto made = DozidiTransportFactory::initTransport(options, fileManager);
  ASSERT_TRUE(server.waitForRequests(1, 30s));
  made->sendEnvelope(DozidiEnvelope::initWithSessions({DozidiSession::initWithReleaseName("1.0")}));
  // Its queue pauses between uploads on the process clock: move it on until the flush is over.
  std::atomic<bool> flushed = false;
  std::thread advancing([&] {
    while (!flushed) {
      clock->advance(0.1);
      std::this_thread::sleep_for(1ms);
    }
  });
  EXPECT_TRUE(made->flush(600));
  flushed = true;
  advancing.join();
  EXPECT_EQ(sent(), (std::vector<std::string>{summary(*left), "- session"}));
  EXPECT_TRUE(storedFiles().empty());
}

// A flush's caller (the end of a program) waits for the cache to empty: the uploads follow one
// another at once, without the pause a running app leaves between them. The clock never moves
// here unless the flush is stuck, which then fails instead of hanging.
TEST_F(ReporterTransportTests, AFlushSendsTheWholeCacheWithoutThePauseBetweenUploads) {
  clock->advance(0);
  options = DozidiOptions::create();
  options->setDsn(plainDsn());
  fileManager = DozidiFileManager::initWithOptions(*options, DozidiDefaultCurrentDateProvider::sharedInstance(),
                                                   nullptr, nullptr);
  ASSERT_TRUE(fileManager);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(fileManager->storeEnvelope(*DozidiEnvelope::initWithSessions({DozidiSession::initWithReleaseName("1.0")})));
  }
  auto made = DozidiTransportFactory::initTransport(options, fileManager);
  std::atomic<bool> done = false;
  bool flushed = false;
  std::thread flushing([&] {
    flushed = made->flush(60);
    done = true;
  });
  for (int waited = 0; !done && waited < 30'000; waited += 10) std::this_thread::sleep_for(10ms);
  const bool withoutTheClock = done.load();
  while (!done) {
    clock->advance(61);
    std::this_thread::sleep_for(10ms);
  }
  flushing.join();
  EXPECT_TRUE(withoutTheClock);
  EXPECT_TRUE(flushed);
  EXPECT_EQ(server.requests().size(), 3u);
  EXPECT_TRUE(storedFiles().empty());
}

}  // namespace
