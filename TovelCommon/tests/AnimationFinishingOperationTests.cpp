#include "TovelCommon/AnimationFinishingOperation.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/View.h"
#include "testing/ScopedManualClock.h"

namespace tovel {
namespace {

class AnimationFinishingOperationTest : public ::testing::Test {
 protected:
  void SetUp() override { dispatch::drainMainQueue(); }
  void add(const std::string& entry) {
    std::lock_guard lock(mutex_);
    journal_.push_back(entry);
  }
  std::vector<std::string> journal() {
    std::lock_guard lock(mutex_);
    return journal_;
  }
  /// Pumps the main queue until the journal holds `count` entries (real time bounds a broken run).
  bool pumpUntil(std::size_t count) {
    return dispatch::runMainLoopUntil([&] { return journal().size() >= count; }, 10);
  }
  std::shared_ptr<AnimationFinishingOperation> fade(const std::string& name, uikit::UIView& view) {
    return AnimationFinishingOperation::create(
        0.4, 0, uikit::UIViewAnimationOptionCurveLinear,
        [this, name, &view] {
          add(name + " animates");
          view.setAlpha(0);
        },
        [this, name] { add(name + " completed"); });
  }

  testing_support::ScopedManualClock clock_;
  std::mutex mutex_;
  std::vector<std::string> journal_;
};

TEST_F(AnimationFinishingOperationTest, OnAOneAtATimeQueueTheNextAnimatesWhenThePreviousHasEnded) {
  auto first = uikit::UIView::create({0, 0, 10, 10});
  auto second = uikit::UIView::create({0, 0, 10, 10});
  auto queue = makeOperationQueue(1);
  auto a = fade("first", *first);
  ASSERT_TRUE(queue->addOperation(a));
  ASSERT_TRUE(queue->addOperation(fade("second", *second)));

  ASSERT_TRUE(pumpUntil(1));
  EXPECT_TRUE(a->isExecuting());
  clock_->advance(0.39);
  dispatch::drainMainQueue();
  EXPECT_EQ(journal(), (std::vector<std::string>{"first animates"}));
  EXPECT_EQ(queue->operationCount(), 2u);

  clock_->advance(0.01);
  ASSERT_TRUE(pumpUntil(3));
  EXPECT_TRUE(a->isFinished());
  EXPECT_FALSE(a->isExecuting());
  clock_->advance(0.4);
  ASSERT_TRUE(pumpUntil(4));
  EXPECT_TRUE(dispatch::runMainLoopUntil([&] { return queue->operationCount() == 0; }, 10));
  EXPECT_EQ(journal(), (std::vector<std::string>{"first animates", "first completed", "second animates",
                                                 "second completed"}));
}

TEST_F(AnimationFinishingOperationTest, ReleasedBeforeTheMainQueueRunsItNeverAnimates) {
  auto view = uikit::UIView::create({0, 0, 10, 10});
  auto operation = fade("released", *view);
  EXPECT_TRUE(operation->isAsynchronous());
  operation->start();
  operation.reset();
  dispatch::drainMainQueue();
  clock_->advance(1);
  dispatch::drainMainQueue();
  EXPECT_TRUE(journal().empty());
  EXPECT_DOUBLE_EQ(view->alpha(), 1);
}

}  // namespace
}  // namespace tovel
