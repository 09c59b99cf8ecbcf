#include <gtest/gtest.h>

#include <future>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/EventDriver.h"
#include "platform/uikit/SystemSheets.h"
#include "platform/uikit/Window.h"
#include "testing/ScopedManualClock.h"

namespace uikit {
namespace {

class SheetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UIApplication::shared().reset();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
  }
  void TearDown() override {
    UIApplication::shared().reset();
    UIDevice::current().userInterfaceIdiom = UIUserInterfaceIdiom::Phone;
  }
  void settle() {
    clock->advance(1);
    dispatch::drainMainQueue();
  }
  testing_support::ScopedManualClock clock;
  std::shared_ptr<UIWindow> window = UIWindow::create({0, 0, 390, 844});
  std::shared_ptr<UIViewController> root = std::make_shared<UIViewController>();
};

TEST_F(SheetTest, AlertRecordsActionsAndRunsTheChosenOne) {
  auto alert = UIAlertController::create(std::nullopt, "Remove?", UIAlertControllerStyle::ActionSheet);
  std::vector<std::string> chosen;
  alert->addAction({"Remove", UIAlertActionStyle::Destructive, [&](const UIAlertAction& a) { chosen.push_back(a.title); }});
  alert->addAction({"Cancel", UIAlertActionStyle::Cancel, nullptr});
  EXPECT_FALSE(alert->popoverPresentationController()) << "phones have no popover";
  root->presentViewController(alert, true);
  settle();
  ASSERT_EQ(root->presentedViewController(), alert);
  EXPECT_FALSE(alert->alertTitle);
  EXPECT_FALSE(alert->chooseAction("Nope"));
  EXPECT_TRUE(alert->chooseAction("Remove"));
  settle();
  EXPECT_EQ(chosen, std::vector<std::string>{"Remove"});
  EXPECT_EQ(root->presentedViewController(), nullptr);

  UIDevice::current().userInterfaceIdiom = UIUserInterfaceIdiom::Pad;
  auto padAlert = UIAlertController::create("t", std::nullopt, UIAlertControllerStyle::ActionSheet);
  EXPECT_TRUE(padAlert->popoverPresentationController());
}

struct CountingProvider : UIActivityItemProvider {
  using UIActivityItemProvider::UIActivityItemProvider;
  int asked = 0;
  std::any item() override {
    asked++;
    return std::string("real");
  }
};

TEST_F(SheetTest, ShareSheetCompletesWithTheScriptedActivity) {
  auto provider = std::make_shared<CountingProvider>(std::string("placeholder"));
  auto sheet = std::make_shared<UIActivityViewController>(
      std::vector<std::any>{std::string("text"), std::shared_ptr<UIActivityItemProvider>(provider)});
  sheet->excludedActivityTypes = {UIActivityTypePrint};
  std::optional<std::string> type;
  bool completed = false;
  sheet->completionWithItemsHandler = [&](auto t, bool c, auto, auto) {
    type = t;
    completed = c;
  };
  root->presentViewController(sheet, false);
  settle();
  EXPECT_FALSE(sheet->complete(UIActivityTypePrint, true)) << "an excluded activity cannot be chosen";
  EXPECT_TRUE(sheet->complete(UIActivityTypeMail, true));
  settle();
  EXPECT_EQ(type, UIActivityTypeMail);
  EXPECT_TRUE(completed);
  EXPECT_EQ(provider->asked, 1);
  EXPECT_EQ(provider->activityType, UIActivityTypeMail);
  EXPECT_EQ(root->presentedViewController(), nullptr);
}

struct StoreDelegate : SKStoreProductViewControllerDelegate {
  int finished = 0;
  void productViewControllerDidFinish(SKStoreProductViewController&) override { finished++; }
};

TEST_F(SheetTest, StoreSheetReviewAndBrowserRecord) {
  auto store = std::make_shared<SKStoreProductViewController>();
  auto delegate = std::make_shared<StoreDelegate>();
  store->delegate = delegate;
  std::optional<bool> loaded;
  store->loadProductWithParameters({{SKStoreProductParameterITunesItemIdentifier, "123"}},
                                   [&](bool ok, auto) { loaded = ok; });
  ASSERT_EQ(store->loadRequests().size(), 1u);
  EXPECT_EQ(store->loadRequests()[0][SKStoreProductParameterITunesItemIdentifier].asString(), "123");
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(store->answerLoad(false, foundation::Error("SKErrorDomain", 0)));
  EXPECT_EQ(loaded, false);
  EXPECT_FALSE(store->answerLoad(true)) << "nothing waits any more";
  store->finish();
  EXPECT_EQ(delegate->finished, 1);

  SKStoreReviewController::resetCount();
  SKStoreReviewController::requestReview();
  SKStoreReviewController::requestReview();
  EXPECT_EQ(SKStoreReviewController::requestCount(), 2);

  auto browser = std::make_shared<SFSafariViewController>("https://example.org/help");
  EXPECT_EQ(browser->URL(), "https://example.org/help");
}

TEST_F(SheetTest, ExtensionStateIsAnsweredOffTheMainThread) {
  ContentBlockerState::reset();
  std::promise<std::pair<std::optional<bool>, bool>> answered;
  auto mainThread = std::this_thread::get_id();
  ContentBlockerState::getStateOfContentBlocker("org.example.blocker", [&](auto enabled, auto) {
    answered.set_value({enabled, std::this_thread::get_id() != mainThread});
  });
  EXPECT_EQ(ContentBlockerState::requests(), std::vector<std::string>{"org.example.blocker"});
  ASSERT_TRUE(ContentBlockerState::answer(true));
  auto result = answered.get_future().get();
  EXPECT_EQ(result.first, true);
  EXPECT_TRUE(result.second);
  EXPECT_FALSE(ContentBlockerState::answer(false));

  // An injected query takes over.
  ContentBlockerState::setQuery([](const std::string&, ContentBlockerState::Completion done) {
    done(std::nullopt, foundation::Error("SFErrorDomain", 1));
  });
  std::optional<foundation::Error> error;
  ContentBlockerState::getStateOfContentBlocker("x", [&](auto, auto e) { error = e; });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 1);
  ContentBlockerState::reset();
}

/// The button titled `title` in `view`'s tree.
std::shared_ptr<UIButton> findButton(const std::shared_ptr<UIView>& view, const std::string& title) {
  if (auto button = std::dynamic_pointer_cast<UIButton>(view); button && button->titleForState(UIControlStateNormal) == title)
    return button;
  for (const auto& sub : view->subviews())
    if (auto found = findButton(sub, title)) return found;
  return nullptr;
}

// A presented alert covers the window and answers the user: a click on an action's button runs
// it once (a second click during the dismissal runs nothing), Escape and a click outside an
// action sheet choose the cancel action, and an alert without one stays for Escape.
TEST_F(SheetTest, AlertsAnswerClicksOnTheirButtonsEscapeAndTheBackdrop) {
  auto& driver = UIEventDriver::shared();
  std::vector<std::string> chosen;
  auto make = [&](UIAlertControllerStyle style, bool cancel) {
    auto alert = UIAlertController::create("Title", "Message", style);
    alert->addAction({"Go", UIAlertActionStyle::Default, [&](const UIAlertAction& a) { chosen.push_back(a.title); }});
    if (cancel) alert->addAction({"Cancel", UIAlertActionStyle::Cancel, [&](const UIAlertAction& a) { chosen.push_back(a.title); }});
    root->presentViewController(alert, false);
    settle();
    window->layoutIfNeeded();
    EXPECT_EQ(alert->view()->frame(), window->bounds());
    return alert;
  };

  auto alert = make(UIAlertControllerStyle::Alert, true);
  auto go = findButton(alert->view(), "Go");
  ASSERT_TRUE(go);
  EXPECT_GT(go->bounds().width(), 100);
  driver.tap(*go);
  driver.tap(*go);
  settle();
  EXPECT_EQ(chosen, std::vector<std::string>{"Go"});
  EXPECT_FALSE(root->presentedViewController());

  make(UIAlertControllerStyle::ActionSheet, true);
  EXPECT_TRUE(driver.pressKey(UIKey::Escape));
  settle();
  make(UIAlertControllerStyle::ActionSheet, true);
  driver.tap(CGPoint{195, 40});
  settle();
  EXPECT_EQ(chosen, (std::vector<std::string>{"Go", "Cancel", "Cancel"}));
  EXPECT_FALSE(root->presentedViewController());

  alert = make(UIAlertControllerStyle::Alert, false);
  EXPECT_FALSE(driver.pressKey(UIKey::Escape));
  driver.tap(CGPoint{195, 40});
  settle();
  EXPECT_EQ(root->presentedViewController(), alert) << "only a choice leaves an alert without cancel";
  EXPECT_EQ(chosen.size(), 3u);
}

// The store sheet loads through the process's loader, shows the product's name, and Done or
// Escape ends it: through the delegate, or by itself when it has none.
TEST_F(SheetTest, StoreSheetShowsItsProductAndCanAlwaysBeLeft) {
  int loads = 0;
  SKStoreProductViewController::setLoader([&](SKStoreProductViewController& sheet) {
    ++loads;
    EXPECT_TRUE(sheet.answerLoad(true));
  });
  auto store = std::make_shared<SKStoreProductViewController>();
  store->title = "Other App";
  bool loaded = false;
  store->loadProductWithParameters({{SKStoreProductParameterITunesItemIdentifier, "42"}},
                                   [&](bool ok, std::optional<foundation::Error>) { loaded = ok; });
  SKStoreProductViewController::setLoader({});
  EXPECT_TRUE(loaded);
  EXPECT_EQ(loads, 1);
  root->presentViewController(store, false);
  settle();
  auto done = findButton(store->view(), "Done");
  ASSERT_TRUE(done);
  UIEventDriver::shared().tap(*done);
  settle();
  EXPECT_FALSE(root->presentedViewController());

  store = std::make_shared<SKStoreProductViewController>();
  root->presentViewController(store, false);
  settle();
  EXPECT_TRUE(UIEventDriver::shared().pressKey(UIKey::Escape));
  settle();
  EXPECT_FALSE(root->presentedViewController());
}

}  // namespace
}  // namespace uikit
