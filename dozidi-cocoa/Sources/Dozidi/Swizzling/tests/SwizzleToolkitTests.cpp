#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSubClassFinder.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzle.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzleWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDefaultObjCRuntimeWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/tests/LogCapture.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/EventDriver.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/ViewController.h"
#include "testing/ScopedManualClock.h"

namespace {

using Log = std::vector<std::string>;

// The application's own controllers, as an app registers them.
class ScreenController : public uikit::UIViewController {
 public:
  std::shared_ptr<Log> log = std::make_shared<Log>();
  void viewDidLoad() override {
    UIViewController::viewDidLoad();  // a call of super is a C++ call: it sends nothing
    log->push_back("ScreenController.viewDidLoad");
  }
  void viewWillAppear(bool animated) override { log->push_back(animated ? "override.animated" : "override"); }
};
class DetailController : public ScreenController {};
// A plain target, not a runtime object.
struct Counter {
  int taps = 0;
};

}  // namespace

RUNTIME_CLASS(ScreenController, uikit::UIViewController, "Tests.ScreenController");
RUNTIME_CLASS(DetailController, ScreenController, "Tests.DetailController");

namespace {

// Runs the main queue until `flag` is set by a block on it (a bound on real time only guards
// against a hang).
void waitFor(const std::atomic<bool>& flag) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!flag && std::chrono::steady_clock::now() < deadline) {
    dispatch::drainMainQueue();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  dispatch::drainMainQueue();
}

std::string executablePath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

const char* const kLifecycle[] = {"loadView",         "viewDidLoad",           "viewWillAppear:",
                                  "viewDidAppear:",   "viewWillDisappear:",    "viewDidDisappear:",
                                  "viewWillLayoutSubviews", "viewDidLayoutSubviews"};

// One swizzle key per lifecycle method, as each replacing site has its own.
const void* lifecycleKey(int index) {
  static const char keys[std::size(kLifecycle)] = {};
  return &keys[index];
}

// Replaces every lifecycle method of `cls` with one that logs the selector, then calls on.
void traceLifecycle(runtime::Class cls, const std::shared_ptr<Log>& log) {
  for (int index = 0; index < static_cast<int>(std::size(kLifecycle)); ++index) {
    const char* name = kLifecycle[index];
    runtime::SEL selector = runtime::sel_registerName(name);
    bool animated = std::string(name).back() == ':';
    auto factory = [log, animated](const std::shared_ptr<DozidiSwizzleInfo>& info) -> runtime::IMP {
      std::string name = runtime::sel_getName(info->selector);
      if (animated) {
        return runtime::imp_implementationWithBlock<void(bool)>([log, info, name](runtime::Object* self, bool a) {
          log->push_back(name);
          info->getOriginalImplementationAs<void(bool)>()->call(self, a);
        });
      }
      return runtime::imp_implementationWithBlock<void()>([log, info, name](runtime::Object* self) {
        log->push_back(name);
        info->getOriginalImplementationAs<void()>()->call(self);
      });
    };
    ASSERT_TRUE(DozidiSwizzle::swizzleInstanceMethod(selector, cls, factory,
                                                     DozidiSwizzleModeOncePerClassAndSuperclasses, lifecycleKey(index)))
        << name;
  }
}

class SwizzleToolkitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    uikit::UIApplication::shared().reset();
    DozidiSwizzleWrapper::removeAllCallbacks();
    dispatch::drainMainQueue();
  }
  void TearDown() override {
    DozidiSwizzleWrapper::removeAllCallbacks();
    uikit::UIApplication::shared().reset();
  }
  testing_support::ScopedManualClock clock;
};

TEST_F(SwizzleToolkitTest, TheToolkitIsAnImageOfItsOwn) {
  std::string toolkit = runtime::class_getImageName(runtime::objc_getClass("UIViewController"));
  EXPECT_NE(toolkit, executablePath());
  EXPECT_NE(toolkit, runtime::class_getImageName(runtime::NSObjectClass()));
  EXPECT_NE(toolkit.find("uikit"), std::string::npos) << toolkit;
  EXPECT_EQ(runtime::class_getImageName(runtime::classOf<ScreenController>()), executablePath());
  for (const char* name : {"UIApplication", "UIButton", "UIWindow", "UINavigationController"}) {
    EXPECT_EQ(runtime::class_getImageName(runtime::objc_getClass(name)), toolkit) << name;
  }
}

// The finder lists the app's controllers and never one of the toolkit's, which therefore are
// never replaced by view-controller tracking.
TEST_F(SwizzleToolkitTest, TheFinderListsTheViewControllersOfOneImage) {
  LogCapture capture;
  DozidiLog::configure(true, DozidiEventLevel::Debug);
  auto finder = DozidiSubClassFinder::initWithDispatchQueue(DozidiDispatchQueueWrapper::initWithName("finder"),
                                                            DozidiDefaultObjCRuntimeWrapper::sharedInstance());
  std::vector<std::string> found;
  std::atomic<bool> called{false};
  finder->actOnSubclassesOfViewControllerInImage(executablePath(), [&](runtime::Class cls) {
    found.push_back(runtime::class_getName(cls));
    called = true;
  });
  waitFor(called);
  EXPECT_EQ(found, (std::vector<std::string>{"Tests.ScreenController", "Tests.DetailController"}));

  std::string toolkit = runtime::class_getImageName(runtime::objc_getClass("UIViewController"));
  std::vector<std::string> platformControllers;
  std::atomic<bool> finished{false};
  finder->actOnSubclassesOfViewControllerInImage(toolkit, [&](runtime::Class cls) {
    platformControllers.push_back(runtime::class_getName(cls));
  });
  finder->dispatchQueue()->dispatchAsyncWithBlock([&] { finder->dispatchQueue()->dispatchAsyncOnMainQueue([&] { finished = true; }); });
  waitFor(finished);
  // The toolkit's own subclasses, not UIViewController itself.
  EXPECT_NE(std::find(platformControllers.begin(), platformControllers.end(), "UINavigationController"),
            platformControllers.end());
  EXPECT_EQ(std::find(platformControllers.begin(), platformControllers.end(), "UIViewController"),
            platformControllers.end());
  bool logged = false;
  for (const auto& line : capture.lines()) {
    logged |= line.find("The following UIViewControllers will generate automatic transactions: "
                        "Tests.ScreenController, Tests.DetailController") != std::string::npos;
  }
  EXPECT_TRUE(logged);
  DozidiLog::configure(false, DozidiEventLevel::Error);
}

// Replaced lifecycle methods of an app controller run in the toolkit's order when the controller
// is shown and hidden, and each calls the C++ override exactly once.
TEST_F(SwizzleToolkitTest, ReplacedLifecycleMethodsRunInOrderAndCallTheOverrides) {
  auto log = std::make_shared<Log>();
  traceLifecycle(runtime::classOf<ScreenController>(), log);
  // The subclass only inherits the replacements: under the same key it is not replaced again.
  EXPECT_FALSE(DozidiSwizzle::swizzleInstanceMethod(
      runtime::sel_registerName("viewDidLoad"), runtime::classOf<DetailController>(),
      [](const std::shared_ptr<DozidiSwizzleInfo>&) { return runtime::imp_implementationWithBlock<void()>([](runtime::Object*) {}); },
      DozidiSwizzleModeOncePerClassAndSuperclasses, lifecycleKey(1)));

  auto controller = std::make_shared<DetailController>();
  controller->log = log;
  auto window = uikit::UIWindow::create({0, 0, 390, 844});
  window->setRootViewController(controller);
  window->makeKeyAndVisible();
  EXPECT_EQ(*log, (Log{"loadView", "viewDidLoad", "ScreenController.viewDidLoad", "viewWillLayoutSubviews",
                       "viewDidLayoutSubviews", "viewWillAppear:", "override", "viewWillLayoutSubviews",
                       "viewDidLayoutSubviews", "viewDidAppear:"}));

  log->clear();
  controller->beginAppearanceTransition(false, false);
  controller->endAppearanceTransition();
  EXPECT_EQ(*log, (Log{"viewWillDisappear:", "viewDidDisappear:"}));

  // A toolkit controller is untouched: its sends run the toolkit's implementations.
  log->clear();
  auto plain = std::make_shared<uikit::UIViewController>();
  plain->view();
  EXPECT_TRUE(log->empty());
}

TEST_F(SwizzleToolkitTest, ActionListenersShareOneReplacementOfSendAction) {
  auto wrapper = DozidiSwizzleWrapper::sharedInstance();
  Log heard;
  auto listener = [&heard](const char* who) {
    return [&heard, who](const std::string& action, runtime::Object* target, runtime::Object* sender, runtime::Object*) {
      heard.push_back(std::string(who) + " " + action + " " + (target ? runtime::object_getClassName(target) : "-") +
                      " " + (sender ? runtime::object_getClassName(sender) : "-"));
    };
  };
  runtime::Class application = runtime::objc_getClass("UIApplication");
  runtime::SEL sendAction = runtime::sel_registerName("sendAction:to:from:forEvent:");
  wrapper->swizzleSendAction(listener("a"), "a");
  runtime::IMP replaced = runtime::class_getMethodImplementation(application, sendAction);
  wrapper->swizzleSendAction(listener("b"), "b");
  EXPECT_EQ(runtime::class_getMethodImplementation(application, sendAction), replaced);
  EXPECT_TRUE(DozidiSwizzleWrapper::hasCallbacks());

  auto window = uikit::UIWindow::create({0, 0, 390, 844});
  auto screen = std::make_shared<ScreenController>();
  window->setRootViewController(screen);
  window->makeKeyAndVisible();
  auto button = uikit::UIButton::create({10, 10, 100, 44});
  screen->view()->addSubview(button);
  int screenTaps = 0;
  button->addTarget<ScreenController>(screen, "buttonTapped:forEvent:", uikit::UIControlEventTouchUpInside,
                                      [&](ScreenController&, uikit::UIControl&) { ++screenTaps; });
  auto counter = std::make_shared<Counter>();
  button->addTarget<Counter>(counter, "count:", uikit::UIControlEventTouchUpInside,
                             [](Counter& c, uikit::UIControl&) { ++c.taps; });
  window->layoutIfNeeded();

  uikit::UIEventDriver::shared().tap(*button);
  dispatch::drainMainQueue();
  EXPECT_EQ(screenTaps, 1);
  EXPECT_EQ(counter->taps, 1);
  EXPECT_EQ(heard, (Log{"a buttonTapped:forEvent: Tests.ScreenController UIButton",
                        "b buttonTapped:forEvent: Tests.ScreenController UIButton", "a count: - UIButton",
                        "b count: - UIButton"}));

  heard.clear();
  wrapper->removeSwizzleSendActionForKey("a");
  uikit::UIEventDriver::shared().tap(*button);
  EXPECT_EQ(screenTaps, 2);
  EXPECT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[0].substr(0, 2), "b ");

  // Without listeners the replacement passes straight through.
  DozidiSwizzleWrapper::removeAllCallbacks();
  heard.clear();
  uikit::UIEventDriver::shared().tap(*button);
  EXPECT_EQ(screenTaps, 3);
  EXPECT_TRUE(heard.empty());
  EXPECT_FALSE(DozidiSwizzleWrapper::hasCallbacks());
}

// A listener may add and remove listeners while it is called: the others are called from a copy.
TEST_F(SwizzleToolkitTest, AListenerMayChangeTheListeners) {
  auto wrapper = DozidiSwizzleWrapper::sharedInstance();
  int calls = 0;
  wrapper->swizzleSendAction(
      [&](const std::string&, runtime::Object*, runtime::Object*, runtime::Object*) {
        ++calls;
        wrapper->removeSwizzleSendActionForKey("self");
        wrapper->swizzleSendAction([&](const std::string&, runtime::Object*, runtime::Object*, runtime::Object*) { ++calls; },
                                   "added");
      },
      "self");
  auto item = std::make_shared<uikit::UIBarButtonItem>();
  int itemTaps = 0;
  item->selector = "done:";
  item->action = [&](uikit::UIBarButtonItem&) { ++itemTaps; };
  item->tap();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(itemTaps, 1);
  item->tap();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(itemTaps, 2);
  EXPECT_EQ(DozidiSwizzleWrapper::swizzleSendActionCallbacks().count("added"), 1u);
}

}  // namespace
