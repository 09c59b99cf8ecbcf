#include "platform/foundation/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/foundation/OperationQueue.h"

namespace foundation {
namespace {

TEST(NotificationCenterTests, DeliversSynchronouslyOnThePostingThreadByName) {
  NotificationCenter center;
  std::vector<std::string> seen;
  std::thread::id deliveredOn;
  center.addObserver("busyOn", nullptr, [&](const Notification& n) {
    seen.push_back(n.name + "/" + n.object.asString().value_or("") + "/" +
                   n.userInfo["k"].asString().value_or(""));
    deliveredOn = std::this_thread::get_id();
  });
  center.addObserver("", nullptr, [&](const Notification& n) { seen.push_back("any:" + n.name); });
  center.post("busyOn", "obj", Dictionary{{"k", "v"}});
  center.post("busyOff");
  EXPECT_EQ(seen, (std::vector<std::string>{"busyOn/obj/v", "any:busyOn", "any:busyOff"}));
  EXPECT_EQ(deliveredOn, std::this_thread::get_id());
}

TEST(NotificationCenterTests, RemovalDuringAPostIsSafeAndTakesEffectAtOnce) {
  NotificationCenter center;
  std::vector<std::string> calls;
  NotificationCenter::ObserverToken self = 0, other = 0;
  self = center.addObserver("n", nullptr, [&](const Notification&) {
    calls.push_back("self");
    center.removeObserver(self);
    center.removeObserver(other);
  });
  other = center.addObserver("n", nullptr, [&](const Notification&) { calls.push_back("other"); });
  center.post("n");
  center.post("n");
  EXPECT_EQ(calls, (std::vector<std::string>{"self"}));
}

struct Cell {
  int redraws = 0;
  void listElementProgressUpdate(const Notification&) { ++redraws; }
};

TEST(NotificationCenterTests, WeaklyHeldObserversAreSkippedOnceGone) {
  NotificationCenter center;
  auto kept = std::make_shared<Cell>();
  auto dropped = std::make_shared<Cell>();
  int droppedCalls = 0;
  center.addObserver(std::weak_ptr<Cell>(kept), "listElementProgressUpdate",
                     &Cell::listElementProgressUpdate);
  center.addObserver(std::weak_ptr<Cell>(dropped), "listElementProgressUpdate",
                     [&](Cell&, const Notification&) { ++droppedCalls; });
  center.post("listElementProgressUpdate");
  dropped.reset();
  center.post("listElementProgressUpdate");
  EXPECT_EQ(kept->redraws, 2);
  EXPECT_EQ(droppedCalls, 1);

  center.removeObserver(kept.get(), "other name");
  center.post("listElementProgressUpdate");
  EXPECT_EQ(kept->redraws, 3);
  center.removeObserver(kept.get());
  center.post("listElementProgressUpdate");
  EXPECT_EQ(kept->redraws, 3);
}

TEST(NotificationCenterTests, ObserverWithAQueueGetsTheNotificationThere) {
  NotificationCenter center;
  auto queue = OperationQueue::create();
  dispatch::DispatchSemaphore delivered;
  std::atomic<bool> onQueue{false};
  center.addObserver("n", queue, [&](const Notification& n) {
    onQueue = queue->isCurrent() && n.sender == &center;
    delivered.signal();
  });
  center.postFromSender("n", &center);
  EXPECT_TRUE(delivered.wait(10.0));
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(onQueue);
}

TEST(NotificationCenterTests, ConcurrentPostsAndRegistrationsAreSafe) {
  NotificationCenter& center = NotificationCenter::defaultCenter();
  std::atomic<int> delivered{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        auto token = center.addObserver("stress", nullptr, [&](const Notification&) { ++delivered; });
        center.post("stress");
        center.removeObserver(token);
      }
    });
  }
  for (auto& t : threads) t.join();
  // Each post reaches at least the observer its own thread registered just before.
  EXPECT_GE(delivered.load(), 800);
}

}  // namespace
}  // namespace foundation
