// View-controller transactions driven through the tracker's entries as the replaced lifecycle
// methods call them: the spans of a full appearance, overrides calling their superclass, a
// controller that disappears before it appeared, repeated will-calls, and name sanitizing.
#include <gtest/gtest.h>

#include "UIKitTrackingFixture.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiPerformanceTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIViewControllerPerformanceTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIViewControllerSanitizer.h"
#include "platform/uikit/ViewController.h"

namespace {

using namespace performance_test;

class ScreenController : public uikit::UIViewController {
 public:
  std::string className() const override { return "Fendrel.ScreenController"; }
};

class UIViewControllerTrackingTests : public UIKitTrackingFixture {
 protected:
  using Tracker = DozidiUIViewControllerPerformanceTracker;
  using Entry = void (Tracker::*)(uikit::UIViewController&, const Tracker::Callback&);

  std::shared_ptr<Tracker> makeTracker(std::vector<std::string> inAppIncludes = {""}) {
    return Tracker::create(DozidiPerformanceTracker::create(), DozidiInAppLogic(std::move(inAppIncludes), {}));
  }
  /// Calls the entry as the replaced method does; the callback counts its runs.
  void call(Tracker& t, Entry entry, std::function<void()> body = {}) {
    (t.*entry)(*controller, [&, body] {
      ++originCalls;
      if (body) body();
    });
  }

  std::shared_ptr<ScreenController> controller = std::make_shared<ScreenController>();
  int originCalls = 0;
};

TEST_F(UIViewControllerTrackingTests, AFullAppearanceIsOneTransactionWithASpanPerMethod) {
  auto t = makeTracker();
  call(*t, &Tracker::viewControllerLoadView);
  call(*t, &Tracker::viewControllerViewDidLoad);
  call(*t, &Tracker::viewControllerViewWillAppear);
  call(*t, &Tracker::viewControllerViewWillLayoutSubViews);
  call(*t, &Tracker::viewControllerViewDidLayoutSubViews);
  EXPECT_TRUE(sentTransactions().empty());
  call(*t, &Tracker::viewControllerViewDidAppear);
  EXPECT_EQ(originCalls, 6);

  auto sent = sentTransaction("Fendrel.ScreenController");
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent["contexts"]["trace"]["op"].asString(), "ui.load");
  EXPECT_EQ(sent["contexts"]["trace"]["status"].asString(), "ok");
  EXPECT_EQ(sent["transaction_info"]["source"].asString(), "component");
  EXPECT_EQ(spanDescriptions(sent),
            (std::vector<std::string>{"loadView", "viewDidLoad", "viewWillAppear", "viewAppearing",
                                      "viewWillLayoutSubviews", "layoutSubViews", "viewDidLayoutSubviews",
                                      "viewDidAppear"}));
  const auto rootId = sent["contexts"]["trace"]["span_id"].asString();
  for (const auto& child : *sent["spans"].array()) {
    EXPECT_EQ(child["parent_span_id"].asString(), rootId);
    EXPECT_EQ(child["op"].asString(), "ui.load");
    EXPECT_EQ(child["status"].asString(), "ok");
  }
  EXPECT_FALSE(t->transactionSpanId(*controller));
  EXPECT_FALSE(t->tracker()->activeSpanId());
}

TEST_F(UIViewControllerTrackingTests, AnOverrideCallingItsSuperclassIsMeasuredOnce) {
  auto t = makeTracker();
  // The subclass's viewDidLoad and loadView run their superclass's, which are replaced too.
  call(*t, &Tracker::viewControllerLoadView, [&] { call(*t, &Tracker::viewControllerLoadView); });
  call(*t, &Tracker::viewControllerViewDidLoad, [&] { call(*t, &Tracker::viewControllerViewDidLoad); });
  call(*t, &Tracker::viewControllerViewDidAppear);
  EXPECT_EQ(originCalls, 5);
  EXPECT_EQ(spanDescriptions(sentTransaction("Fendrel.ScreenController")),
            (std::vector<std::string>{"loadView", "viewDidLoad", "viewDidAppear"}));
}

TEST_F(UIViewControllerTrackingTests, DisappearingBeforeAppearingCancelsAndALaterAppearanceOnlyRuns) {
  auto t = makeTracker();
  call(*t, &Tracker::viewControllerViewDidLoad);
  call(*t, &Tracker::viewControllerViewWillAppear);
  call(*t, &Tracker::viewControllerViewWillDisappear);
  call(*t, &Tracker::viewControllerViewDidAppear);
  EXPECT_EQ(originCalls, 4);
  auto sent = sentTransactions();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]["contexts"]["trace"]["status"].asString(), "cancelled");
  EXPECT_EQ(span(sent[0], "viewAppearing")["status"].asString(), "cancelled");
  EXPECT_EQ(spanDescriptions(sent[0]),
            (std::vector<std::string>{"viewDidLoad", "viewWillAppear", "viewAppearing", "viewWillDisappear"}));
}

TEST_F(UIViewControllerTrackingTests, ARepeatedWillCallClosesTheSpanItLeftOpen) {
  auto t = makeTracker();
  call(*t, &Tracker::viewControllerViewDidLoad);
  call(*t, &Tracker::viewControllerViewWillAppear);
  call(*t, &Tracker::viewControllerViewWillLayoutSubViews);
  clock->advance(0.5);
  call(*t, &Tracker::viewControllerViewWillLayoutSubViews);
  call(*t, &Tracker::viewControllerViewWillAppear);
  call(*t, &Tracker::viewControllerViewDidLayoutSubViews);
  call(*t, &Tracker::viewControllerViewDidAppear);

  auto sent = sentTransaction("Fendrel.ScreenController");
  ASSERT_FALSE(sent.empty()) << "an orphaned span would hold the transaction open";
  int layoutSpans = 0, appearingSpans = 0;
  for (const auto& child : *sent["spans"].array()) {
    const auto description = child["description"].asString();
    layoutSpans += description == "layoutSubViews";
    appearingSpans += description == "viewAppearing";
    EXPECT_EQ(child["status"].asString(), "ok") << *description;
  }
  EXPECT_EQ(layoutSpans, 2);
  EXPECT_EQ(appearingSpans, 2);
}

TEST_F(UIViewControllerTrackingTests, WithoutATransactionEntriesOnlyRunTheirCallback) {
  auto notInApp = makeTracker({"SomeOtherApp"});
  call(*notInApp, &Tracker::viewControllerLoadView);
  EXPECT_FALSE(notInApp->transactionSpanId(*controller)) << "a class outside the app opens nothing at loadView";

  auto t = makeTracker();
  for (Entry entry : {&Tracker::viewControllerViewWillAppear, &Tracker::viewControllerViewWillLayoutSubViews,
                      &Tracker::viewControllerViewDidLayoutSubViews, &Tracker::viewControllerViewDidAppear,
                      &Tracker::viewControllerViewWillDisappear}) {
    call(*t, entry);
  }
  EXPECT_EQ(originCalls, 6);
  EXPECT_TRUE(sentTransactions().empty());
}

TEST_F(UIViewControllerTrackingTests, AControllerLoadedWhileItsParentLoadsIsAChildSpan) {
  auto t = makeTracker();
  auto child = std::make_shared<ScreenController>();
  call(*t, &Tracker::viewControllerViewDidLoad, [&] {
    t->viewControllerViewDidLoad(*child, [] {});
    t->viewControllerViewDidAppear(*child, [] {});
  });
  call(*t, &Tracker::viewControllerViewDidAppear);
  auto sent = sentTransactions();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(spanDescriptions(sent[0]), (std::vector<std::string>{"viewDidLoad", "Fendrel.ScreenController",
                                                                  "viewDidLoad", "viewDidAppear", "viewDidAppear"}));
}

TEST(UIViewControllerSanitizerTests, KeepsTheWordsAfterAngleBracketsAndDots) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"<Fendrel.ScreenController: 0x7f00>", "Fendrel.ScreenController"},
      {"<ScreenController: 0x7f00>", "ScreenController"},
      {"ScreenController", "ScreenController"},
      {"", ""},
      {"<: 0x1>", "<: 0x1>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(DozidiUIViewControllerSanitizer::sanitizeViewControllerName(std::string(c.text)), c.expected);
  }
  ScreenController controller;
  EXPECT_EQ(DozidiUIViewControllerSanitizer::sanitizeViewControllerName(controller), "Fendrel.ScreenController");
}

}  // namespace
