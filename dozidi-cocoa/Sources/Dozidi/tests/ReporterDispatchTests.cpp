#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiRandom.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/dispatch/Once.h"
#include "platform/foundation/NotificationCenter.h"
#include "testing/ScopedManualClock.h"

namespace {

// Waits until every block queued on `wrapper` before this call has run.
void drain(DozidiDispatchQueueWrapper& wrapper) { wrapper.queue()->sync([] {}); }

TEST(ReporterDispatchTests, AsyncBlocksRunInOrderOnOneThread) {
  auto wrapper = DozidiDispatchQueueWrapper::create();
  EXPECT_EQ(wrapper->queue()->label(), "dozidi-default");
  constexpr int kBlocks = 10'000;
  std::vector<int> order;
  std::set<std::thread::id> threads;
  order.reserve(kBlocks);
  for (int i = 0; i < kBlocks; ++i) {
    wrapper->dispatchAsyncWithBlock([&, i] {
      order.push_back(i);
      threads.insert(std::this_thread::get_id());
    });
  }
  drain(*wrapper);
  ASSERT_EQ(order.size(), static_cast<std::size_t>(kBlocks));
  for (int i = 0; i < kBlocks; ++i) ASSERT_EQ(order[i], i);
  EXPECT_EQ(threads.size(), 1u);
  EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
}

TEST(ReporterDispatchTests, CancelledDispatchAfterNeverFires) {
  testing_support::ScopedManualClock clock;
  auto wrapper = DozidiDispatchQueueWrapper::initWithName("dozidi-test");
  std::atomic<int> cancelledRuns{0};
  std::atomic<int> laterRuns{0};
  auto cancelled = DozidiDispatchBlock::create([&] { ++cancelledRuns; });
  wrapper->dispatchAfter(1.0, cancelled);
  wrapper->dispatchAfter(2.0, [&] { ++laterRuns; });
  wrapper->dispatchCancel(cancelled);
  clock->advance(1.5);
  drain(*wrapper);
  EXPECT_EQ(laterRuns, 0);
  clock->advance(1.0);
  drain(*wrapper);
  EXPECT_EQ(laterRuns, 1);
  EXPECT_EQ(cancelledRuns, 0);
}

TEST(ReporterDispatchTests, SyncOnMainRunsInlineOnMainAndWaitsElsewhere) {
  auto wrapper = DozidiDispatchQueueWrapper::create();
  ASSERT_TRUE(dispatch::isMainThread());
  bool ran = false;
  wrapper->dispatchSyncOnMainQueue([&] { ran = true; });
  EXPECT_TRUE(ran);

  std::atomic<bool> ranFromWorker{false};
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    wrapper->dispatchSyncOnMainQueue([&] { ranFromWorker = dispatch::isMainThread(); });
    returned = true;
  });
  EXPECT_TRUE(dispatch::runMainLoopUntil([&] { return returned.load(); }, 10));
  worker.join();
  EXPECT_TRUE(ranFromWorker);

  std::atomic<bool> ranAsync{false};
  wrapper->dispatchAsyncOnMainQueue([&] { ranAsync = dispatch::isMainThread(); });
  EXPECT_TRUE(dispatch::runMainLoopUntil([&] { return ranAsync.load(); }, 10));
}

TEST(ReporterDispatchTests, DispatchOnceRunsOncePerTokenUntilReset) {
  auto wrapper = DozidiDispatchQueueWrapper::create();
  dispatch::OnceFlag token;
  int runs = 0;
  wrapper->dispatchOnce(token, [&] { ++runs; });
  wrapper->dispatchOnce(token, [&] { ++runs; });
  EXPECT_EQ(runs, 1);
  token.reset();
  wrapper->dispatchOnce(token, [&] { ++runs; });
  EXPECT_EQ(runs, 2);
}

TEST(ReporterDispatchTests, CurrentDateFollowsTheInstalledProvider) {
  struct FixedProvider : DozidiCurrentDateProvider {
    foundation::Date date() override { return foundation::Date::fromTimeIntervalSince1970(42); }
    double dispatchTimeNow() override { return 7; }
    std::int64_t timezoneOffset() override { return 3600; }
  };
  testing_support::ScopedManualClock clock;
  DozidiCurrentDate::setCurrentDateProvider(nullptr);
  EXPECT_EQ(DozidiCurrentDate::getCurrentDateProvider(), nullptr);
  EXPECT_EQ(DozidiCurrentDate::date().timeIntervalSince1970(), clock->wallTime());
  EXPECT_EQ(DozidiCurrentDate::getCurrentDateProvider(), DozidiDefaultCurrentDateProvider::sharedInstance());

  DozidiCurrentDate::setCurrentDateProvider(std::make_shared<FixedProvider>());
  EXPECT_EQ(DozidiCurrentDate::date().timeIntervalSince1970(), 42);
  EXPECT_EQ(DozidiCurrentDate::dispatchTimeNow(), 7);
  DozidiCurrentDate::setCurrentDateProvider(nullptr);
  clock->advance(5);
  EXPECT_EQ(DozidiCurrentDate::date().timeIntervalSince1970(), clock->wallTime());
  EXPECT_EQ(DozidiCurrentDate::dispatchTimeNow(), clock->uptime());
}

TEST(ReporterDispatchTests, ContainerMakesEachServiceOnceAndResetGivesFreshOnes) {
  DozidiDependencyContainer::reset();
  auto container = DozidiDependencyContainer::sharedInstance();
  EXPECT_EQ(DozidiDependencyContainer::sharedInstance(), container);

  std::vector<std::shared_ptr<DozidiRandom>> randoms(8);
  std::vector<std::shared_ptr<DozidiDispatchQueueWrapper>> wrappers(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < randoms.size(); ++i) {
    threads.emplace_back([&, i] {
      randoms[i] = container->random();
      wrappers[i] = container->dispatchQueueWrapper();
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(std::set(randoms.begin(), randoms.end()).size(), 1u);
  EXPECT_EQ(std::set(wrappers.begin(), wrappers.end()).size(), 1u);
  EXPECT_EQ(wrappers[0]->queue()->label(), "dozidi-default");
  const auto center = container->notificationCenterWrapper();
  EXPECT_EQ(container->notificationCenterWrapper(), center);

  struct FixedRandom : DozidiRandom {
    double nextNumber() override { return 0.5; }
  };
  auto fixed = std::make_shared<FixedRandom>();
  container->setRandom(fixed);
  EXPECT_EQ(container->random()->nextNumber(), 0.5);

  DozidiDependencyContainer::reset();
  auto fresh = DozidiDependencyContainer::sharedInstance();
  EXPECT_NE(fresh, container);
  EXPECT_NE(fresh->random(), randoms[0]);
  EXPECT_NE(fresh->random(), fixed);
  EXPECT_NE(fresh->dispatchQueueWrapper(), wrappers[0]);
  EXPECT_NE(fresh->notificationCenterWrapper(), center);
  DozidiDependencyContainer::reset();
}

TEST(ReporterDispatchTests, ClockAndServicesMayBeReplacedWhileOtherThreadsReadThem) {
  struct FixedProvider : DozidiCurrentDateProvider {
    foundation::Date date() override { return foundation::Date::fromTimeIntervalSince1970(42); }
    double dispatchTimeNow() override { return 0; }
    std::int64_t timezoneOffset() override { return 0; }
  };
  DozidiDependencyContainer::reset();
  auto container = DozidiDependencyContainer::sharedInstance();
  std::atomic<bool> stop{false};
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] {
      while (!stop) {
        (void)DozidiCurrentDate::date();
        (void)container->random()->nextNumber();
        (void)DozidiDependencyContainer::sharedInstance();
      }
    });
  }
  for (int i = 0; i < 200; ++i) {
    DozidiCurrentDate::setCurrentDateProvider(i % 2 ? nullptr : std::make_shared<FixedProvider>());
    container->setRandom(i % 2 ? nullptr : DozidiRandom::create());
    if (i % 50 == 0) DozidiDependencyContainer::reset();
  }
  stop = true;
  for (auto& reader : readers) reader.join();
  DozidiCurrentDate::setCurrentDateProvider(nullptr);
  DozidiDependencyContainer::reset();
}

TEST(ReporterDispatchTests, RandomNumbersStayInRangeAndInstancesDiffer) {
  auto a = DozidiRandom::create();
  auto b = DozidiRandom::create();
  std::vector<double> first;
  std::vector<double> second;
  for (int i = 0; i < 1000; ++i) {
    const double x = a->nextNumber();
    ASSERT_GE(x, 0.0);
    ASSERT_LT(x, 1.0);
    first.push_back(x);
    second.push_back(b->nextNumber());
  }
  // Two sources made at the same moment do not repeat each other.
  EXPECT_NE(first, second);
}

TEST(ReporterDispatchTests, NotificationWrapperAddsAndRemovesByObserverAndName) {
  auto wrapper = DozidiNSNotificationCenterWrapper::create();
  int observer = 0;
  int other = 0;
  std::vector<std::string> seen;
  const std::string active = DozidiNSNotificationCenterWrapper::didBecomeActiveNotificationName();
  const std::string terminate = DozidiNSNotificationCenterWrapper::willTerminateNotificationName();
  EXPECT_EQ(active, "UIApplicationDidBecomeActiveNotification");
  EXPECT_EQ(std::string(DozidiNSNotificationCenterWrapper::willResignActiveNotificationName()),
            "UIApplicationWillResignActiveNotification");
  wrapper->addObserver(&observer, active, [&](const foundation::Notification& n) { seen.push_back("a:" + n.name); });
  wrapper->addObserver(&observer, terminate, [&](const foundation::Notification& n) { seen.push_back("a:" + n.name); });
  wrapper->addObserver(&other, active, [&](const foundation::Notification& n) { seen.push_back("b:" + n.name); });

  auto& center = foundation::NotificationCenter::defaultCenter();
  center.post(active);
  wrapper->removeObserver(&observer, active);
  center.post(active);
  center.post(terminate);
  wrapper->removeObserver(&observer);
  wrapper->removeObserver(&other);
  center.post(active);
  center.post(terminate);
  EXPECT_EQ(seen, (std::vector<std::string>{"a:" + active, "b:" + active, "b:" + active, "a:" + terminate}));
}

}  // namespace
