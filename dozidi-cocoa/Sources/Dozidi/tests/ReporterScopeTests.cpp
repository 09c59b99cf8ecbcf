#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <atomic>
#include <thread>
#include <vector>

#include "JSONText.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSession.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSpan.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiBreadcrumb.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiUser.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"

using foundation::Dictionary;

namespace {

// Observers are told after the scope let go of its locks, so calls from several threads may
// arrive at once: the recording has a lock of its own.
struct RecordingObserver : DozidiScopeObserver {
  std::mutex mutex;
  std::vector<Dictionary> calls;
  std::vector<std::string> events;
  void record(std::string event) {
    std::lock_guard lock(mutex);
    events.push_back(std::move(event));
  }
  void setExtras(const Dictionary& extras) override {
    std::lock_guard lock(mutex);
    calls.push_back(extras);
    events.push_back("extras " + std::to_string(extras.size()));
  }
  void setTags(const Dictionary& tags) override { record("tags " + sortedJSON(tags)); }
  void setContext(const Dictionary& context) override { record("context " + sortedJSON(context)); }
  void setUser(const std::shared_ptr<DozidiUser>& user) override { record(user ? "user" : "no user"); }
  void setDist(const std::optional<std::string>& dist) override { record("dist " + dist.value_or("-")); }
  void setEnvironment(const std::optional<std::string>& environment) override {
    record("environment " + environment.value_or("-"));
  }
  void setFingerprint(const std::vector<std::string>& fingerprint) override {
    record("fingerprint " + std::to_string(fingerprint.size()));
  }
  void setLevel(DozidiEventLevel level) override { record("level " + nameForDozidiLevel(level)); }
  void addSerializedBreadcrumb(const Dictionary& crumb) override {
    record("crumb " + crumb["message"].asString().value_or("-"));
  }
  void clearBreadcrumbs() override { record("clear crumbs"); }
  void clear() override { record("clear"); }
};

class ReporterScopeTests : public ::testing::Test {
 protected:
  void TearDown() override { DozidiSDK::close(); }
};

TEST_F(ReporterScopeTests, SetExtrasMergesAndTellsEveryObserverTheWholeExtras) {
  auto scope = DozidiScope::create();
  auto first = std::make_shared<RecordingObserver>();
  auto second = std::make_shared<RecordingObserver>();
  scope->addObserver(first);
  scope->addObserver(second);

  scope->setExtras(Dictionary{{"a", 1}, {"b", "x"}});
  scope->setExtras(Dictionary{{"b", "y"}, {"c", true}});

  Dictionary expected{{"a", 1}, {"b", "y"}, {"c", true}};
  EXPECT_EQ(scope->extras(), expected);
  for (const auto* observer : {first.get(), second.get()}) {
    ASSERT_EQ(observer->calls.size(), 2u);
    EXPECT_EQ(observer->calls[0], (Dictionary{{"a", 1}, {"b", "x"}}));
    EXPECT_EQ(observer->calls[1], expected);
  }
}

TEST_F(ReporterScopeTests, NoDictionaryChangesNothingAndTellsNobody) {
  auto scope = DozidiScope::create();
  auto observer = std::make_shared<RecordingObserver>();
  scope->addObserver(observer);
  scope->setExtras(Dictionary{{"kept", 1}});
  scope->setExtras(std::nullopt);
  EXPECT_EQ(scope->extras(), (Dictionary{{"kept", 1}}));
  EXPECT_EQ(observer->calls.size(), 1u);
}

TEST_F(ReporterScopeTests, ConfigureScopeRunsOnlyOnceTheReporterIsStarted) {
  int calls = 0;
  auto block = [&](DozidiScope& scope) {
    ++calls;
    scope.setExtras(Dictionary{{"enabledFilters", foundation::Array{"a"}}});
  };
  DozidiSDK::configureScope(block);
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(DozidiSDK::isEnabled());
  EXPECT_TRUE(DozidiSDK::currentHub()->scope()->extras().empty());

  DozidiSDK::startWithOptions(Dictionary{{"dsn", "http://key@127.0.0.1/1"}});
  EXPECT_TRUE(DozidiSDK::isEnabled());
  DozidiSDK::configureScope(block);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(DozidiSDK::currentHub()->scope()->extras()["enabledFilters"],
            foundation::Value(foundation::Array{"a"}));

  DozidiSDK::close();
  EXPECT_FALSE(DozidiSDK::isEnabled());
  DozidiSDK::configureScope(block);
  EXPECT_EQ(calls, 1);
}

TEST_F(ReporterScopeTests, ConcurrentSettersKeepEveryKey) {
  auto scope = DozidiScope::create();
  auto observer = std::make_shared<RecordingObserver>();
  scope->addObserver(observer);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        scope->setExtras(Dictionary{{"k" + std::to_string(t) + "_" + std::to_string(i), i}});
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(scope->extras().size(), 200u);
  ASSERT_EQ(observer->calls.size(), 200u);
  // Changes are told in the order they were made: each call holds more keys than the one before,
  // and the last holds them all, so a mirror of the scope ends with its whole state.
  for (std::size_t i = 1; i < observer->calls.size(); ++i) {
    EXPECT_GT(observer->calls[i].size(), observer->calls[i - 1].size()) << "call " << i;
  }
  EXPECT_EQ(observer->calls.back().size(), 200u);
}

TEST_F(ReporterScopeTests, AnObserverMayWaitForAnotherThreadThatUsesTheScope) {
  // An observer (as the crash recorder's mirror may) waits for a thread that reads and changes the
  // scope. The wait is bounded so that a scope holding its lock fails the test instead of hanging.
  struct WaitingObserver : DozidiScopeObserver {
    std::shared_ptr<DozidiScope> scope;
    std::thread other;
    bool otherThreadFinished = false;
    std::mutex mutex;
    std::vector<Dictionary> calls;
    void setExtras(const Dictionary& extras) override {
      std::unique_lock lock(mutex);
      calls.push_back(extras);
      if (calls.size() > 1) return;
      lock.unlock();
      auto finished = std::make_shared<std::promise<void>>();
      auto done = finished->get_future();
      other = std::thread([this, finished] {
        (void)scope->extras();
        scope->setExtras(Dictionary{{"fromOtherThread", 2}});
        finished->set_value();
      });
      otherThreadFinished = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    }
  };
  auto scope = DozidiScope::create();
  auto observer = std::make_shared<WaitingObserver>();
  observer->scope = scope;
  scope->addObserver(observer);

  scope->setExtras(Dictionary{{"first", 1}});
  observer->other.join();

  EXPECT_TRUE(observer->otherThreadFinished);
  // The other thread's change is told after the one being told, by the thread that was telling.
  ASSERT_EQ(observer->calls.size(), 2u);
  EXPECT_EQ(observer->calls[0], (Dictionary{{"first", 1}}));
  EXPECT_EQ(observer->calls[1], (Dictionary{{"first", 1}, {"fromOtherThread", 2}}));
}


std::shared_ptr<DozidiBreadcrumb> crumb(const std::string& message) {
  auto result = DozidiBreadcrumb::create();
  result->message = message;
  result->timestamp = foundation::Date::fromTimeIntervalSince1970(1'700'000'000);
  return result;
}

std::vector<std::string> messages(const std::vector<std::shared_ptr<DozidiBreadcrumb>>& crumbs) {
  std::vector<std::string> result;
  for (const auto& c : crumbs) result.push_back(c->message.value_or(""));
  return result;
}

TEST_F(ReporterScopeTests, TheTrailKeepsTheNewestWithinItsCapacity) {
  auto none = DozidiScope::create(0);
  auto silent = std::make_shared<RecordingObserver>();
  none->addObserver(silent);
  none->addBreadcrumb(crumb("A"));
  EXPECT_TRUE(none->breadcrumbs().empty());
  EXPECT_TRUE(silent->events.empty());

  auto scope = DozidiScope::create(2);
  auto observer = std::make_shared<RecordingObserver>();
  scope->addObserver(observer);
  for (const char* m : {"A", "B", "C"}) scope->addBreadcrumb(crumb(m));
  EXPECT_EQ(messages(scope->breadcrumbs()), (std::vector<std::string>{"B", "C"}));
  EXPECT_EQ(observer->events, (std::vector<std::string>{"crumb A", "crumb B", "crumb C"}));
  scope->clearBreadcrumbs();
  EXPECT_TRUE(scope->breadcrumbs().empty());
  EXPECT_EQ(observer->events.back(), "clear crumbs");
}

TEST_F(ReporterScopeTests, MutatorsChangeTheScopeAndTellObserversTheWholeState) {
  auto scope = DozidiScope::create();
  auto observer = std::make_shared<RecordingObserver>();
  scope->addObserver(observer);
  EXPECT_JSON_EQ(scope->serialize(), "{}");

  scope->setTags(Dictionary{{"b", "2"}});
  scope->setTags(Dictionary{{"a", "1"}});
  scope->setTags(std::nullopt);
  scope->setTagValue("3", "c");
  scope->removeTagForKey("b");
  scope->setExtraValue(1, "x");
  scope->removeExtraForKey("x");
  scope->setContextValue(Dictionary{{"k", 1}}, "app");
  scope->setContextValue(Dictionary{{"k", 2}}, "os");
  scope->removeContextForKey("app");
  scope->setUser(DozidiUser::initWithUserId("u"));
  scope->setDist("7");
  scope->setEnvironment("prod");
  scope->setFingerprint(std::vector<std::string>{"f"});
  scope->setLevel(DozidiEventLevel::Warning);
  scope->addBreadcrumb(crumb("A"));
  scope->addAttachment(DozidiAttachment::initWithData(foundation::Data(std::string("x")), "x"));

  EXPECT_EQ(observer->events, (std::vector<std::string>{
                                  R"(tags {"b":"2"})", R"(tags {"a":"1","b":"2"})", R"(tags {"a":"1","b":"2","c":"3"})",
                                  R"(tags {"a":"1","c":"3"})", "extras 1", "extras 0", R"(context {"app":{"k":1}})",
                                  R"(context {"app":{"k":1},"os":{"k":2}})", R"(context {"os":{"k":2}})", "user",
                                  "dist 7", "environment prod", "fingerprint 1", "level warning", "crumb A"}));
  EXPECT_JSON_EQ(scope->serialize(), R"({"tags":{"a":"1","c":"3"},"context":{"os":{"k":2}},"user":{"id":"u"},
      "dist":"7","environment":"prod","fingerprint":["f"],"level":"warning",
      "breadcrumbs":[{"level":"info","timestamp":"2023-11-14T22:13:20.000Z","category":"default","message":"A"}]})");

  auto copy = DozidiScope::initWithScope(*scope);
  EXPECT_EQ(sortedJSON(copy->serialize()), sortedJSON(scope->serialize()));
  EXPECT_NE(copy->userObject(), scope->userObject());
  EXPECT_EQ(copy->attachments().size(), 1u);
  copy->setDist("8");
  EXPECT_EQ(scope->distString(), "7");
  EXPECT_EQ(observer->events.size(), 15u) << "a copy has no observers";

  scope->clear();
  EXPECT_JSON_EQ(scope->serialize(), "{}");
  EXPECT_TRUE(scope->attachments().empty());
  EXPECT_EQ(scope->maxBreadcrumbs(), DozidiScope::kDefaultMaxBreadcrumbs);
  EXPECT_EQ(observer->events.back(), "clear");
}

TEST_F(ReporterScopeTests, ApplyToEventFillsWhatTheEventLacks) {
  auto scope = DozidiScope::create();
  scope->setTags(Dictionary{{"t", "scope"}, {"s", "scope"}});
  scope->setExtras(Dictionary{{"e", "scope"}});
  scope->setFingerprint(std::vector<std::string>{"scope"});
  for (const char* m : {"1", "2", "3", "4", "5"}) scope->addBreadcrumb(crumb(m));
  scope->setUser(DozidiUser::initWithUserId("u"));
  scope->setDist("scope-dist");
  scope->setEnvironment("scope-env");
  scope->setContextValue(Dictionary{{"a", 1}, {"b", 1}}, "app");

  auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Error);
  event->tags = Dictionary{{"t", "event"}};
  event->environment = "event-env";
  event->context = Dictionary{{"app", Dictionary{{"b", 2}}}};
  scope->applyToEvent(event, 3);
  EXPECT_EQ(event->tags, (Dictionary{{"t", "event"}, {"s", "scope"}}));
  EXPECT_EQ(event->extra, (Dictionary{{"e", "scope"}}));
  EXPECT_EQ(event->fingerprint, std::vector<std::string>{"scope"});
  // The newest three of five, oldest first.
  EXPECT_EQ(messages(*event->breadcrumbs), (std::vector<std::string>{"3", "4", "5"}));
  EXPECT_NE(event->user, scope->userObject());
  EXPECT_EQ(event->user->userId(), "u");
  EXPECT_EQ(event->dist, "scope-dist");
  EXPECT_EQ(event->environment, "event-env");
  EXPECT_EQ(event->level, DozidiEventLevel::Error);
  EXPECT_JSON_EQ(*event->context, R"({"app":{"a":1,"b":2}})");
  EXPECT_FALSE(event->transaction);

  auto empty = DozidiEvent::initWithLevel(DozidiEventLevel::Error);
  empty->breadcrumbs.emplace();
  empty->fingerprint = std::vector<std::string>{"own"};
  scope->setLevel(DozidiEventLevel::Warning);
  auto tracer = DozidiTracer::initWithTransactionContext(DozidiTransactionContext::initWithName("Tracer", "op"), nullptr);
  scope->setSpan(tracer);
  scope->applyToEvent(empty, 3);
  EXPECT_TRUE(empty->breadcrumbs->empty());
  EXPECT_EQ(empty->fingerprint, std::vector<std::string>{"own"});
  EXPECT_EQ(empty->level, DozidiEventLevel::Warning);
  EXPECT_EQ(empty->transaction, "Tracer");
  EXPECT_EQ((*empty->context)["trace"], foundation::Value(tracer->context()->serialize()));

  auto transaction = DozidiEvent::initWithLevel(DozidiEventLevel::Info);
  transaction->type = "transaction";
  transaction->transaction = "Own";
  scope->applyToEvent(transaction, 100);
  EXPECT_EQ(transaction->transaction, "Own");
  EXPECT_TRUE((*transaction->context)["trace"].dictionary());

  auto session = DozidiSession::initWithReleaseName("app@1");
  scope->applyToSession(*session);
  EXPECT_EQ(session->environment(), "scope-env");
  EXPECT_EQ(session->user()->userId(), "u");
  EXPECT_NE(session->user(), scope->userObject());
}

TEST_F(ReporterScopeTests, ConcurrentChangesSerialisationAndApplicationStayConsistent) {
  auto scope = DozidiScope::create(20);
  auto observer = std::make_shared<RecordingObserver>();
  scope->addObserver(observer);
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int t = 0; t < 3; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        const std::string key = std::to_string(t) + "-" + std::to_string(i % 7);
        scope->setTagValue(key, key);
        scope->setExtraValue(i, key);
        scope->setContextValue(Dictionary{{"i", i}}, key);
        scope->addBreadcrumb(crumb(key));
        scope->setUser(DozidiUser::initWithUserId(key));
        scope->setDist(key);
        scope->setFingerprint(std::vector<std::string>{key});
        scope->setLevel(i % 2 ? DozidiEventLevel::Info : DozidiEventLevel::Warning);
        if (i % 50 == 0) scope->clear();
        if (i % 10 == 0) scope->removeTagForKey(key);
      }
    });
  }
  std::thread reader([&] {
    while (!stop) {
      auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Error);
      scope->applyToEvent(event, 10);
      EXPECT_LE(event->breadcrumbs->size(), 10u);
      (void)event->serialize();
      (void)scope->serialize();
      (void)DozidiScope::initWithScope(*scope);
    }
  });
  for (auto& writer : writers) writer.join();
  stop = true;
  reader.join();
  EXPECT_LE(scope->breadcrumbs().size(), 20u);
}

}  // namespace
