// The shared span registry: nesting through the active stack, the scope-binding rules of the
// transactions it starts, activation with unknown ids, finishing once, and activations of two
// threads that end in the other order.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "UIKitTrackingFixture.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiPerformanceTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"

namespace {

using namespace performance_test;

class PerformanceTrackerTests : public UIKitTrackingFixture {
 protected:
  std::shared_ptr<DozidiPerformanceTracker> tracker = DozidiPerformanceTracker::create();
};

TEST_F(PerformanceTrackerTests, NestedMeasuringBuildsAChainAndEmptiesTheStack) {
  tracker->measureSpanWithDescription("outer", "ui.load", [&] {
    tracker->measureSpanWithDescription("middle", "ui.load", [&] {
      tracker->measureSpanWithDescription("inner", "ui.load", [] {});
    });
    // Started directly on the transaction, it still nests under the active span.
    hub->scope()->span()->startChildWithOperation("direct", "direct")->finish();
  });
  EXPECT_FALSE(tracker->activeSpanId());

  auto sent = sentTransaction("outer");
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent["contexts"]["trace"]["status"].asString(), "ok");
  const auto rootId = sent["contexts"]["trace"]["span_id"].asString();
  auto middle = span(sent, "middle"), inner = span(sent, "inner"), direct = span(sent, "direct");
  EXPECT_EQ(middle["parent_span_id"].asString(), rootId);
  EXPECT_EQ(inner["parent_span_id"].asString(), middle["span_id"].asString());
  EXPECT_EQ(direct["parent_span_id"].asString(), rootId);
}

TEST_F(PerformanceTrackerTests, ANewTransactionTakesTheScopeOnlyFromAUserInteraction) {
  struct Case {
    const char* name;
    const char* boundOperation;  // null: nothing bound
    bool expectBound;
    bool expectBoundCancelled;
  };
  const Case cases[] = {
      {"empty scope", nullptr, true, false},
      {"tap transaction", "ui.action.click", true, true},
      {"switch transaction", "ui.action", true, true},
      {"other transaction", "http.server", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::shared_ptr<DozidiTracer> bound;
    if (c.boundOperation) bound = hub->startTransactionWithName("bound", c.boundOperation, true);
    const auto spanId = tracker->startSpanWithName("Screen", DozidiTransactionNameSource::Component, "ui.load");
    auto started = tracker->getSpan(spanId);
    ASSERT_TRUE(started);
    EXPECT_EQ(hub->scope()->span() == started, c.expectBound);
    if (bound) {
      EXPECT_EQ(bound->isFinished(), c.expectBoundCancelled);
    }
    tracker->finishSpan(spanId);
    if (bound && !bound->isFinished()) bound->finish();
    hub->scope()->setSpan(nullptr);
  }
  auto cancelled = sentTransactions();
  int cancelledTaps = 0;
  for (auto& sent : cancelled) {
    if (sent["transaction"].asString() == "bound" && sent["contexts"]["trace"]["status"].asString() == "cancelled") {
      ++cancelledTaps;
    }
  }
  EXPECT_EQ(cancelledTaps, 2);
}

TEST_F(PerformanceTrackerTests, UnknownIdsAndSecondFinishesChangeNothing) {
  const auto spanId = tracker->startSpanWithName("Screen", "ui.load");
  ASSERT_TRUE(tracker->pushActiveSpan(spanId));
  bool ran = false;
  tracker->activateSpan(DozidiSpanId(), [&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_EQ(tracker->activeSpanId(), spanId) << "the stack is as it was";
  EXPECT_FALSE(tracker->pushActiveSpan(DozidiSpanId()));
  tracker->popActiveSpan();
  tracker->popActiveSpan();  // an empty stack stays empty
  EXPECT_FALSE(tracker->activeSpanId());

  tracker->finishSpan(spanId, DozidiSpanStatus::Ok);
  EXPECT_FALSE(tracker->isSpanAlive(spanId));
  tracker->finishSpan(spanId, DozidiSpanStatus::Cancelled);
  auto sent = sentTransactions();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]["contexts"]["trace"]["status"].asString(), "ok");
}

TEST_F(PerformanceTrackerTests, AnActivationEndingFirstLeavesTheOtherThreadsSpanActive) {
  const auto mainSpan = tracker->startSpanWithName("main", "ui.load");
  const auto workerSpan = tracker->startSpanWithName("worker", "task");
  std::promise<void> workerActive, mainDone;
  std::thread worker;
  tracker->activateSpan(mainSpan, [&] {
    worker = std::thread([&] {
      tracker->activateSpan(workerSpan, [&] {
        workerActive.set_value();
        mainDone.get_future().wait();
        EXPECT_EQ(tracker->activeSpanId(), workerSpan) << "the other thread's end took this span off";
      });
    });
    workerActive.get_future().wait();
  });
  EXPECT_EQ(tracker->activeSpanId(), workerSpan);
  mainDone.set_value();
  worker.join();
  EXPECT_FALSE(tracker->activeSpanId());
  tracker->finishSpan(workerSpan);
  tracker->finishSpan(mainSpan);
}

}  // namespace
