// View-controller and tap tracing on the real toolkit: controllers shown in a window and buttons
// tapped through the event driver, with the lifecycle methods and the action dispatch replaced
// through the method table.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "UIKitTrackingFixture.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiPerformanceTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIEventTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIViewControllerPerformanceTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIViewControllerSwizzling.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSubClassFinder.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzleWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDefaultObjCRuntimeWrapper.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/EventDriver.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"

namespace toolkit_test {

class RootController : public uikit::UIViewController {
 public:
  void viewDidLoad() override { ++didLoadCalls; }
  int didLoadCalls = 0;
};
class ChildController : public uikit::UIViewController {};
/// Overrides viewDidLoad and calls its superclass's, as subclasses do.
class DetailController : public RootController {
 public:
  void viewDidLoad() override { RootController::viewDidLoad(); }
};
/// A target of button actions.
class ActionTarget : public runtime::Object {
 public:
  int taps = 0;
};

}  // namespace toolkit_test

RUNTIME_CLASS(toolkit_test::RootController, uikit::UIViewController, "Fendrel.RootController");
RUNTIME_CLASS(toolkit_test::ChildController, uikit::UIViewController, "Fendrel.ChildController");
RUNTIME_CLASS(toolkit_test::DetailController, toolkit_test::RootController, "Fendrel.DetailController");
RUNTIME_CLASS(toolkit_test::ActionTarget, runtime::Object, "Fendrel.ActionTarget");

namespace {

using namespace performance_test;
using namespace toolkit_test;

std::string testProgramName() {
  return std::filesystem::read_symlink("/proc/self/exe").filename().string();
}

class UIKitToolkitTrackingTests : public UIKitTrackingFixture {
 protected:
  void SetUp() override {
    UIKitTrackingFixture::SetUp();
    uikit::UIApplication::shared().reset();
    // The test program is the app: its classes are in-app, the toolkit's are not.
    options->inAppIncludes = {testProgramName()};
    viewControllers = DozidiUIViewControllerPerformanceTracker::create(
        DozidiPerformanceTracker::create(), DozidiInAppLogic(options->inAppIncludes, {}));
  }
  void TearDown() override {
    if (window) window->setVisible(false);
    uikit::UIApplication::shared().reset();
    UIKitTrackingFixture::TearDown();
  }
  void startSwizzling() {
    swizzling = DozidiUIViewControllerSwizzling::initWithOptions(
        *options, queue, DozidiSubClassFinder::initWithDispatchQueue(queue, DozidiDefaultObjCRuntimeWrapper::sharedInstance()),
        viewControllers);
    swizzling->start();
  }
  /// Shows `root` in a new key window.
  void show(const std::shared_ptr<uikit::UIViewController>& root) {
    window = uikit::UIWindow::create(uikit::UIScreen::main().bounds());
    window->setRootViewController(root);
    window->makeKeyAndVisible();
  }

  std::shared_ptr<DozidiUIViewControllerPerformanceTracker> viewControllers;
  std::shared_ptr<DozidiUIViewControllerSwizzling> swizzling;
  std::shared_ptr<uikit::UIWindow> window;
};

TEST_F(UIKitToolkitTrackingTests, ARootWithAChildShownInAWindowGivesATransactionEach) {
  startSwizzling();
  auto root = std::make_shared<RootController>();
  auto child = std::make_shared<ChildController>();
  root->view();
  root->addChildViewController(child);
  root->view()->addSubview(child->view());
  child->didMoveToParentViewController(root.get());
  show(root);

  for (const char* name : {"Fendrel.RootController", "Fendrel.ChildController"}) {
    SCOPED_TRACE(name);
    auto sent = sentTransaction(name);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent["contexts"]["trace"]["op"].asString(), "ui.load");
    EXPECT_EQ(sent["contexts"]["trace"]["status"].asString(), "ok");
    const auto spans = spanDescriptions(sent);
    for (const char* method : {"loadView", "viewDidLoad", "viewWillAppear", "viewAppearing", "viewDidAppear"}) {
      EXPECT_EQ(std::count(spans.begin(), spans.end(), method), 1) << method;
    }
  }
  EXPECT_EQ(sentTransactions().size(), 2u);
  EXPECT_EQ(root->didLoadCalls, 1);
}

TEST_F(UIKitToolkitTrackingTests, ASubclassCallingItsSuperclassGivesOneSpan) {
  startSwizzling();
  auto detail = std::make_shared<DetailController>();
  show(detail);
  auto sent = sentTransaction("Fendrel.DetailController");
  ASSERT_FALSE(sent.empty());
  const auto spans = spanDescriptions(sent);
  EXPECT_EQ(std::count(spans.begin(), spans.end(), "viewDidLoad"), 1);
  EXPECT_EQ(detail->didLoadCalls, 1);
}

TEST_F(UIKitToolkitTrackingTests, DisappearingBeforeAppearingCancels) {
  startSwizzling();
  auto root = std::make_shared<RootController>();
  root->view();
  root->beginAppearanceTransition(true, false);
  root->beginAppearanceTransition(false, false);
  root->endAppearanceTransition();
  auto sent = sentTransaction("Fendrel.RootController");
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent["contexts"]["trace"]["status"].asString(), "cancelled");
}

TEST_F(UIKitToolkitTrackingTests, TheToolkitsOwnControllersAreNotTraced) {
  startSwizzling();
  show(std::make_shared<uikit::UIViewController>());
  EXPECT_TRUE(sentTransactions().empty());
}

TEST_F(UIKitToolkitTrackingTests, TapsOnRealButtonsExtendOrFinishAnIdleTransaction) {
  auto events = DozidiUIEventTracker::initWithSwizzleWrapper(DozidiSwizzleWrapper::sharedInstance(), queue, 3.0);
  events->start();
  auto screen = std::make_shared<uikit::UIViewController>();
  show(screen);
  auto target = std::make_shared<ActionTarget>();
  auto save = uikit::UIButton::create({20, 100, 120, 44});
  auto cancel = uikit::UIButton::create({20, 200, 120, 44});
  save->accessibilityIdentifier = "save";
  for (const auto& [button, selector] : {std::pair{save, "saveTapped:"}, std::pair{cancel, "cancelTapped:forEvent:"}}) {
    screen->view()->addSubview(button);
    button->addTarget<ActionTarget>(target, selector, uikit::UIControlEventTouchUpInside,
                                    [](ActionTarget& t, uikit::UIControl&) { ++t.taps; });
  }

  uikit::UIEventDriver::shared().tap(*save);
  ASSERT_EQ(events->activeTransactions().size(), 1u);
  auto first = events->activeTransactions().front();
  first->startChildWithOperation("work")->finish();
  queue->advance(2.0);
  uikit::UIEventDriver::shared().tap(*save);
  queue->advance(2.0);
  EXPECT_FALSE(first->isFinished()) << "the second tap extended the transaction";
  uikit::UIEventDriver::shared().tap(*cancel);
  EXPECT_TRUE(first->isFinished()) << "another control finishes it";
  EXPECT_EQ(target->taps, 3);

  auto sent = sentTransaction("Fendrel.ActionTarget.saveTapped");
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent["contexts"]["trace"]["op"].asString(), "ui.action.click");
  EXPECT_EQ(sent["tags"]["accessibilityIdentifier"].asString(), "save");
  ASSERT_EQ(events->activeTransactions().size(), 1u);
  EXPECT_EQ(events->activeTransactions().front()->transactionContext()->name(),
            "Fendrel.ActionTarget.cancelTapped(forEvent:)");

  events->stop();
  uikit::UIEventDriver::shared().tap(*save);
  EXPECT_EQ(events->activeTransactions().size(), 1u) << "a stopped tracker hears no more actions";
  EXPECT_EQ(target->taps, 4);
}

}  // namespace
