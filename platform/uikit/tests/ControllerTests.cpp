#include <gtest/gtest.h>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/EventDriver.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/ViewController.h"
#include "testing/ScopedManualClock.h"

namespace uikit {
namespace {

using Log = std::vector<std::string>;

class Logged : public UIViewController {
 public:
  Logged(std::string name, std::shared_ptr<Log> log) : name_(std::move(name)), log_(std::move(log)) {}
  void viewDidLoad() override { log_->push_back(name_ + ".didLoad"); }
  void viewWillAppear(bool) override { log_->push_back(name_ + ".willAppear"); }
  void viewDidAppear(bool) override { log_->push_back(name_ + ".didAppear"); }
  void viewWillDisappear(bool) override { log_->push_back(name_ + ".willDisappear"); }
  void viewDidDisappear(bool) override { log_->push_back(name_ + ".didDisappear"); }

 private:
  std::string name_;
  std::shared_ptr<Log> log_;
};

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UIApplication::shared().reset();
    dispatch::drainMainQueue();
    window = UIWindow::create({0, 0, 390, 844});
    window->setWindowSafeAreaInsets({47, 0, 34, 0});
  }
  void TearDown() override { UIApplication::shared().reset(); }
  void advance(double s) {
    clock->advance(s);
    dispatch::drainMainQueue();
  }
  std::shared_ptr<Logged> make(const std::string& name) { return std::make_shared<Logged>(name, log); }

  testing_support::ScopedManualClock clock;
  std::shared_ptr<Log> log = std::make_shared<Log>();
  std::shared_ptr<UIWindow> window;
};

TEST_F(ControllerTest, PresentAndDismissCallTheCallbacksInOrder) {
  auto a = make("A"), b = make("B");
  window->setRootViewController(a);
  window->makeKeyAndVisible();
  EXPECT_EQ(*log, (Log{"A.didLoad", "A.willAppear", "A.didAppear"}));
  log->clear();

  b->modalPresentationStyle = UIModalPresentationStyle::FullScreen;
  bool presented = false;
  a->presentViewController(b, true, [&] { presented = true; });
  EXPECT_EQ(*log, (Log{"B.didLoad", "A.willDisappear", "B.willAppear"}));
  advance(0.29);
  EXPECT_FALSE(presented);
  advance(0.01);
  EXPECT_TRUE(presented);
  EXPECT_EQ(*log, (Log{"B.didLoad", "A.willDisappear", "B.willAppear", "B.didAppear", "A.didDisappear"}));
  EXPECT_EQ(a->presentedViewController(), b);
  EXPECT_EQ(b->presentingViewController(), a);

  // A second presentation while one is there does nothing.
  auto c = make("C");
  a->presentViewController(c, false);
  advance(1);
  EXPECT_EQ(c->presentingViewController(), nullptr);

  log->clear();
  b->dismissViewControllerAnimated(false);
  advance(0);
  EXPECT_EQ(*log, (Log{"B.willDisappear", "A.willAppear", "B.didDisappear", "A.didAppear"}));
  EXPECT_EQ(a->presentedViewController(), nullptr);
  EXPECT_EQ(b->view()->superview(), nullptr);
}

TEST_F(ControllerTest, SheetLeavesThePresenterAppeared) {
  auto a = make("A"), b = make("B");
  window->setRootViewController(a);
  window->makeKeyAndVisible();
  b->view();
  log->clear();
  for (const char* version : {"17.0", "12.4"}) {
    UIDevice::current().systemVersion = version;
    log->clear();
    a->presentViewController(b, false);
    advance(0);
    bool sheet = std::string(version) == "17.0";
    Log expected = sheet ? Log{"B.willAppear", "B.didAppear"}
                         : Log{"A.willDisappear", "B.willAppear", "B.didAppear", "A.didDisappear"};
    EXPECT_EQ(*log, expected) << version;
    a->dismissViewControllerAnimated(false);
    advance(0);
  }
  UIDevice::current().systemVersion = "17.0";
}

// An animator that records its calls and leaves the ending to the test.
struct ManualAnimator : UIViewControllerAnimatedTransitioning, UIViewControllerTransitioningDelegate {
  UIViewControllerContextTransitioning* context = nullptr;
  int runs = 0;
  double transitionDuration(UIViewControllerContextTransitioning&) override { return 0.5; }
  void animateTransition(UIViewControllerContextTransitioning& c) override {
    context = &c;
    runs++;
    c.viewForKey(UITransitionContextToViewControllerKey)->setAlpha(0.5);
  }
  std::shared_ptr<UIViewControllerAnimatedTransitioning> animationControllerForPresentedController(
      UIViewController&, UIViewController&, UIViewController&) override {
    return std::shared_ptr<UIViewControllerAnimatedTransitioning>(std::shared_ptr<void>(), this);
  }
  std::shared_ptr<UIViewControllerAnimatedTransitioning> animationControllerForDismissedController(
      UIViewController&) override {
    return std::shared_ptr<UIViewControllerAnimatedTransitioning>(std::shared_ptr<void>(), this);
  }
};

TEST_F(ControllerTest, CustomAnimatorEndsThePresentationOnlyWhenItCompletes) {
  auto a = make("A"), b = make("B");
  window->setRootViewController(a);
  window->makeKeyAndVisible();
  auto animator = std::make_shared<ManualAnimator>();
  b->transitioningDelegate = animator;
  b->modalPresentationStyle = UIModalPresentationStyle::Custom;

  // Cancelled: the presentation is rolled back and its completion never runs.
  bool completed = false;
  a->presentViewController(b, true, [&] { completed = true; });
  ASSERT_EQ(animator->runs, 1);
  EXPECT_EQ(&animator->context->containerView(), window.get());
  EXPECT_EQ(b->view()->alpha(), 0.5) << "the animator's own animation ran";
  advance(5);
  EXPECT_FALSE(completed) << "no fixed duration when an animator takes over";
  animator->context->completeTransition(false);
  EXPECT_FALSE(completed);
  EXPECT_EQ(a->presentedViewController(), nullptr);
  EXPECT_EQ(b->view()->superview(), nullptr);

  log->clear();
  a->presentViewController(b, true, [&] { completed = true; });
  EXPECT_EQ(*log, (Log{"B.willAppear"}));
  animator->context->completeTransition(true);
  animator->context->completeTransition(false);  // only the first call counts
  EXPECT_TRUE(completed);
  EXPECT_EQ(*log, (Log{"B.willAppear", "B.didAppear"}));
  EXPECT_EQ(a->presentedViewController(), b);

  // A cancelled dismissal leaves the controller presented; a completed one removes it.
  log->clear();
  bool dismissed = false;
  b->dismissViewControllerAnimated(true, [&] { dismissed = true; });
  EXPECT_EQ(animator->context->viewControllerForKey(UITransitionContextFromViewControllerKey), b);
  animator->context->completeTransition(false);
  EXPECT_EQ(*log, (Log{"B.willDisappear", "B.willAppear", "B.didAppear"}));
  EXPECT_EQ(a->presentedViewController(), b);
  EXPECT_FALSE(dismissed);
  b->dismissViewControllerAnimated(true, [&] { dismissed = true; });
  animator->context->completeTransition(true);
  EXPECT_TRUE(dismissed);
  EXPECT_EQ(a->presentedViewController(), nullptr);
  EXPECT_EQ(b->view()->superview(), nullptr);
}

TEST_F(ControllerTest, PushAndPopCallTheCallbacksInOrder) {
  auto a = make("A"), b = make("B");
  auto nav = UINavigationController::create(a);
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  EXPECT_EQ(*log, (Log{"A.didLoad", "A.willAppear", "A.didAppear"}));
  auto bar = nav->navigationBar();
  EXPECT_EQ(bar->frame(), (CGRect{0, 47, 390, 44}));
  EXPECT_EQ(bar->superview(), nav->view());

  log->clear();
  nav->pushViewController(b, true);
  EXPECT_EQ(*log, (Log{"B.didLoad", "A.willDisappear", "B.willAppear"}));
  advance(0.3);
  EXPECT_EQ(*log, (Log{"B.didLoad", "A.willDisappear", "B.willAppear", "A.didDisappear", "B.didAppear"}));
  EXPECT_EQ(b->navigationController(), nav.get());
  auto& subviews = nav->view()->subviews();
  EXPECT_EQ(subviews.back(), bar) << "content goes below the bar";
  EXPECT_EQ(a->view()->superview(), nullptr);

  log->clear();
  EXPECT_EQ(nav->popViewControllerAnimated(false), b);
  EXPECT_EQ(*log, (Log{"B.willDisappear", "A.willAppear", "B.didDisappear", "A.didAppear"}));
  EXPECT_EQ(nav->popViewControllerAnimated(false), nullptr) << "the root stays";
  EXPECT_EQ(b->parentViewController(), nullptr);
}

TEST_F(ControllerTest, NavigationBarShowsTheTopItemAsTouchableViews) {
  auto list = make("List"), entry = make("Entry");
  list->title = "Rules";
  int adds = 0, saves = 0;
  auto add = std::make_shared<UIBarButtonItem>();
  add->title = "Add";
  add->action = [&](UIBarButtonItem&) { ++adds; };
  list->navigationItem.rightBarButtonItems = {add};
  auto nav = UINavigationController::create(list);
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  auto bar = nav->navigationBar();
  EXPECT_EQ(bar->titleLabel()->text(), "Rules") << "the controller's title when the item has none";
  EXPECT_EQ(bar->backButton(), nullptr) << "nothing to go back to";
  auto addButton = bar->buttonForItem(*add);
  ASSERT_NE(addButton, nullptr);
  EXPECT_EQ(addButton->superview(), bar);
  EXPECT_GT(addButton->frame().minX(), bar->titleLabel()->frame().maxX() - 1) << "right items right of the title";
  UIEventDriver::shared().tap(*addButton);
  EXPECT_EQ(adds, 1);

  // Items set after the push, and changed later, show without any other call; a touch reaches them.
  nav->pushViewController(entry, false);
  auto save = std::make_shared<UIBarButtonItem>();
  save->title = "Save";
  save->enabled = false;
  save->action = [&](UIBarButtonItem&) { ++saves; };
  entry->navigationItem.title = "Add rule";
  entry->navigationItem.rightBarButtonItems = {save};
  CGPoint right = bar->convertPointToView({bar->bounds().width() - 20, 22}, nullptr);
  UIEventDriver::shared().tap(right);
  EXPECT_EQ(saves, 0) << "a disabled item does not act";
  EXPECT_FALSE(bar->buttonForItem(*save)->isEnabled());
  save->enabled = true;
  UIEventDriver::shared().tap(right);
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(bar->buttonForItem(*add), nullptr) << "the covered controller's items are gone";
  EXPECT_EQ(bar->titleLabel()->text(), "Add rule");

  auto back = bar->backButton();
  ASSERT_NE(back, nullptr);
  EXPECT_NE(back->titleForState(UIControlStateNormal).find("Rules"), std::string::npos);
  UIEventDriver::shared().tap(*back);
  advance(0.3);
  EXPECT_EQ(nav->topViewController(), list);
  bar->updateItems();
  EXPECT_EQ(bar->backButton(), nullptr);
  EXPECT_EQ(bar->titleLabel()->text(), "Rules");
}

TEST_F(ControllerTest, TabBarSwitchesAndSitsAboveTheHomeIndicator) {
  auto a = make("A"), b = make("B");
  auto tabs = UITabBarController::create();
  tabs->setViewControllers({a, b});
  window->setRootViewController(tabs);
  window->makeKeyAndVisible();
  EXPECT_EQ(tabs->tabBar()->frame(), (CGRect{0, 844 - 49 - 34, 390, 49 + 34}));
  log->clear();
  tabs->setSelectedIndex(1);
  EXPECT_EQ(*log, (Log{"B.didLoad", "A.willDisappear", "B.willAppear", "A.didDisappear", "B.didAppear"}));
  EXPECT_EQ(tabs->selectedViewController(), b);
}

TEST_F(ControllerTest, KeyWindowAndLevels) {
  auto& app = UIApplication::shared();
  auto low = UIWindow::create({0, 0, 100, 100}), high = UIWindow::create({0, 0, 100, 100});
  high->setWindowLevel(UIWindowLevelAlert);
  high->makeKeyAndVisible();
  low->makeKeyAndVisible();
  EXPECT_TRUE(low->isKeyWindow());
  EXPECT_FALSE(high->isKeyWindow());
  EXPECT_EQ(app.windows(), (std::vector<std::shared_ptr<UIWindow>>{low, high})) << "by level, not by order";
  EXPECT_EQ(app.hitTest({5, 5}), high);
  high->setVisible(false);
  EXPECT_EQ(app.hitTest({5, 5}), low);
}

TEST_F(ControllerTest, ApplicationStateNotificationsFollowThePlatformOrder) {
  auto& app = UIApplication::shared();
  Log names;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      "", nullptr, [&](const foundation::Notification& n) { names.push_back(n.name); });
  app.setApplicationState(UIApplicationState::Background);
  app.setApplicationState(UIApplicationState::Active);
  foundation::NotificationCenter::defaultCenter().removeObserver(token);
  EXPECT_EQ(names, (Log{UIApplicationWillResignActiveNotification, UIApplicationDidEnterBackgroundNotification,
                        UIApplicationWillEnterForegroundNotification, UIApplicationDidBecomeActiveNotification}));
}

TEST_F(ControllerTest, OpenURLGoesThroughTheReplaceableOpener) {
  std::vector<std::string> opened;
  UIApplication::shared().setURLOpener([&](const std::string& url, const foundation::Dictionary&, auto done) {
    opened.push_back(url);
    done(true);
  });
  bool result = false;
  UIApplication::shared().openURL("https://example.org/", {}, [&](bool ok) { result = ok; });
  EXPECT_FALSE(result) << "the completion runs on the main queue";
  dispatch::drainMainQueue();
  EXPECT_TRUE(result);
  EXPECT_EQ(opened, std::vector<std::string>{"https://example.org/"});

  // The desktop opener refuses anything that is not a web or mail address, without starting a program.
  bool refused = true;
  openWithDesktopOpener("file:///etc/passwd", [&](bool ok) { refused = !ok; });
  EXPECT_TRUE(refused);
}

}  // namespace
}  // namespace uikit
