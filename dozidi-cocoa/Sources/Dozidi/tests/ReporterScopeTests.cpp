#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiScope.h"

using foundation::Dictionary;

namespace {

struct RecordingObserver : DozidiScopeObserver {
  std::vector<Dictionary> calls;
  void setExtras(const Dictionary& extras) override { calls.push_back(extras); }
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
  EXPECT_EQ(observer->calls.back().size(), 200u);
}

}  // namespace
