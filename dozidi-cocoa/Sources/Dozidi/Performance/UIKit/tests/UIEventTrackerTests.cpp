// Idle transactions for control actions, under manual time: names and operations, repeated and
// alternating taps, the scope-binding rule next to a screen's transaction, and ignored actions.
#include <gtest/gtest.h>

#include "UIKitTrackingFixture.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIEventTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzleWrapper.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/PageControl.h"
#include "platform/uikit/Switch.h"
#include "platform/uikit/ViewController.h"

namespace {

using namespace performance_test;

class ShinyButton : public uikit::UIButton {
 public:
  std::string className() const override { return "ShinyButton"; }
};

class UIEventTrackerTests : public UIKitTrackingFixture {
 protected:
  void SetUp() override {
    UIKitTrackingFixture::SetUp();
    tracker = DozidiUIEventTracker::initWithSwizzleWrapper(DozidiSwizzleWrapper::sharedInstance(), queue, 3.0);
  }
  /// A tap whose action starts some work, so the idle transaction has a child and is sent.
  std::shared_ptr<DozidiTracer> tap(const std::string& action, const uikit::NSObject& sender,
                                    const std::string& target = "ScreenController") {
    tracker->sendActionCalled(action, target, &sender);
    auto active = tracker->activeTransactions();
    if (active.empty()) return nullptr;
    active.back()->startChildWithOperation("work")->finish();
    return active.back();
  }

  std::shared_ptr<DozidiUIEventTracker> tracker;
  std::shared_ptr<uikit::UIButton> button = std::make_shared<uikit::UIButton>();
  std::shared_ptr<uikit::UIButton> other = std::make_shared<uikit::UIButton>();
};

TEST(UIEventTrackerNamingTests, NamesAndOperations) {
  const struct {
    const char* action;
    const char* expected;
  } names[] = {
      {"buttonTapped", "ScreenController.buttonTapped"},
      {"buttonTapped:", "ScreenController.buttonTapped"},
      {"buttonTapped:forEvent:", "ScreenController.buttonTapped(forEvent:)"},
      {"move:from:to:", "ScreenController.move(from:to:)"},
  };
  for (const auto& c : names) {
    SCOPED_TRACE(c.action);
    EXPECT_EQ(DozidiUIEventTracker::getTransactionName(c.action, "ScreenController"), c.expected);
  }

  ShinyButton shiny;
  uikit::UIPageControl pages;
  uikit::UIBarButtonItem item;
  uikit::UISwitch toggle;
  uikit::UIView view;
  EXPECT_EQ(DozidiUIEventTracker::getOperation(&shiny), "ui.action.click");
  EXPECT_EQ(DozidiUIEventTracker::getOperation(&pages), "ui.action.click");
  EXPECT_EQ(DozidiUIEventTracker::getOperation(&item), "ui.action.click");
  EXPECT_EQ(DozidiUIEventTracker::getOperation(&toggle), "ui.action");
  EXPECT_EQ(DozidiUIEventTracker::getOperation(&view), "ui.action");
  EXPECT_TRUE(DozidiUIEventTracker::isUIEventOperation("ui.action"));
  EXPECT_FALSE(DozidiUIEventTracker::isUIEventOperation("ui.action.swipe"));
}

TEST_F(UIEventTrackerTests, ASecondTapOnTheSameControlRestartsTheIdleTimer) {
  button->accessibilityIdentifier = "save";
  auto first = tap("saveTapped:", *button);
  ASSERT_TRUE(first);
  EXPECT_EQ(hub->scope()->span(), first);
  queue->advance(2.0);
  auto second = tap("saveTapped:", *button);
  EXPECT_EQ(second, first);
  queue->advance(2.0);
  EXPECT_FALSE(first->isFinished()) << "the second tap re-armed the timer";
  queue->advance(1.0);
  EXPECT_TRUE(first->isFinished());
  EXPECT_TRUE(tracker->activeTransactions().empty());

  auto sent = sentTransactions();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]["transaction"].asString(), "ScreenController.saveTapped");
  EXPECT_EQ(sent[0]["contexts"]["trace"]["op"].asString(), "ui.action.click");
  EXPECT_EQ(sent[0]["tags"]["accessibilityIdentifier"].asString(), "save");
  EXPECT_EQ(sent[0]["spans"].array()->size(), 2u);
}

TEST_F(UIEventTrackerTests, AnotherControlFinishesTheTransactionOnceItsChildrenEnd) {
  tracker->sendActionCalled("saveTapped:", "ScreenController", button.get());
  auto first = tracker->activeTransactions().back();
  auto running = first->startChildWithOperation("http.client");

  auto second = tap("cancelTapped:", *other);
  ASSERT_TRUE(second);
  EXPECT_NE(second, first);
  EXPECT_TRUE(sentTransactions().empty()) << "the first waits for its running child";
  EXPECT_EQ(hub->scope()->span(), second) << "a tap transaction gives the scope to the next";
  running->finish();
  auto sent = sentTransactions();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]["transaction"].asString(), "ScreenController.saveTapped");
  EXPECT_EQ(tracker->activeTransactions(), std::vector{second});
}

TEST_F(UIEventTrackerTests, AScreensTransactionKeepsTheScope) {
  auto screen = hub->startTransactionWithName("Screen", "ui.load", true);
  auto tapped = tap("saveTapped:", *button);
  ASSERT_TRUE(tapped);
  EXPECT_EQ(hub->scope()->span(), screen);

  hub->scope()->setSpan(hub->startTransactionWithName("Job", "task", true));
  tracker->sendActionCalled("cancelTapped:", "ScreenController", other.get());
  EXPECT_NE(hub->scope()->span(), tracker->activeTransactions().back()) << "any other span stays bound";
}

TEST_F(UIEventTrackerTests, ActionsWithoutSenderTargetOrFromSwiftUIStartNothing) {
  tracker->sendActionCalled("tapped:", "ScreenController", nullptr);
  tracker->sendActionCalled("tapped:", std::nullopt, button.get());
  tracker->sendActionCalled("tapped:", "SwiftUI.PlatformViewHost", button.get());
  EXPECT_TRUE(tracker->activeTransactions().empty());
  EXPECT_FALSE(hub->scope()->span());
}

}  // namespace
