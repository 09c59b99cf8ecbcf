#include <gtest/gtest.h>

#include <filesystem>

#include "MessageBanners/MessageView.h"
#include "app/screens/WhitelistViewController.h"
#include "app/screens/tests/BannerSteps.h"
#include "app/screens/tests/ScreensTestSupport.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Renderer.h"
#include "platform/uikit/Window.h"

namespace fendrel {
namespace {

TEST(SanitizeWebsiteTextTests, KeepsTheSiteInLowerCaseOnly) {
  struct Row {
    const char* name;
    const char* text;
    const char* site;
  };
  const Row rows[] = {
      {"mixed case", "Example.COM", "example.com"},
      {"pasted address", "https://www.Example.com/page?x=1#top", "www.example.com"},
      {"other scheme", "ftp://files.example.org", "files.example.org"},
      {"query without path", "example.com?ref=1", "example.com"},
      {"characters outside the set", "my_site .cöm:8080", "mysite.cm8080"},
      {"only a slash", "/", ""},
      {"colon without scheme", "a:b", "ab"},
  };
  for (const auto& row : rows) EXPECT_EQ(sanitizeWebsiteText(row.text), row.site) << row.name;
}

class WhitelistTests : public ::testing::Test {
 protected:
  void SetUp() override {
    list_ = screens_.instantiate<WhitelistViewController>("Main", "WhitelistViewController");
    ASSERT_TRUE(list_);
    window_ = uikit::UIWindow::create(uikit::UIScreen::main().bounds());
    navigation_ = NavigationController::create(list_);
    window_->setRootViewController(navigation_);
    window_->makeKeyAndVisible();
    settle();
    table_ = list_->tableView.lock();
    ASSERT_TRUE(table_);
  }
  /// Lets pushes and pops finish; each step also moves the wall clock on, so dates differ.
  void settle() {
    clock_->advance(1.0);
    dispatch::drainMainQueue();
  }
  std::shared_ptr<WhitelistEntryViewController> top() const {
    return std::dynamic_pointer_cast<WhitelistEntryViewController>(navigation_->topViewController());
  }
  foundation::Date date() { return Singleton::shared().whitelistDate(); }
  /// Types `text` into the entry screen's field as the keyboard does.
  void type(const std::string& text) {
    auto field = top()->websiteTextField.lock();
    for (char c : text) field->insertText(std::string(1, c));
  }
  std::vector<WhitelistElement> stored() { return Singleton::shared().whitelist(); }

  test_support::ScopedManualClock clock_;
  test_support::ScopedDeviceRoot root_;
  test_support::ScopedAppState state_;
  test_support::ScopedScreens screens_;
  std::shared_ptr<WhitelistViewController> list_;
  std::shared_ptr<NavigationController> navigation_;
  std::shared_ptr<uikit::UIWindow> window_;
  std::shared_ptr<uikit::UITableView> table_;
};

TEST_F(WhitelistTests, AddEditAndDeleteStoreTheListStampTheDateAndReloadTheSections) {
  ASSERT_TRUE(Singleton::shared().setWhitelist({{"keep.com", true, 0}}));
  table_->reloadData();
  EXPECT_EQ(table_->numberOfRowsInSection(0), 1);
  EXPECT_EQ(table_->headerTitle(0), "Enabled rules");
  EXPECT_EQ(table_->headerTitle(1), "Disabled rules");

  // Add: an empty form with the switch on and Save off until there is a site.
  list_->editBarButton->tap();
  settle();
  auto entry = top();
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->mode, WhitelistEntryViewController::Mode::Add);
  EXPECT_EQ(entry->title, "Add rule");
  EXPECT_TRUE(entry->enabledSwitch.lock()->isOn());
  EXPECT_FALSE(entry->saveBarButton->enabled);
  type("Example.com");
  EXPECT_EQ(entry->websiteTextField.lock()->text(), "example.com");
  EXPECT_TRUE(entry->saveBarButton->enabled);
  auto before = date();
  entry->saveBarButton->tap();
  settle();
  EXPECT_EQ(navigation_->topViewController(), list_);
  EXPECT_EQ(stored(), (std::vector<WhitelistElement>{{"keep.com", true, 0}, {"example.com", true, 1}}));
  EXPECT_GT(date().timeIntervalSince1970(), before.timeIntervalSince1970());
  EXPECT_EQ(table_->numberOfRowsInSection(0), 2);
  EXPECT_EQ(table_->cellForRowAtIndexPath({0, 1})->textLabel()->text(), "example.com");

  // Edit: the same entry screen, filled from the rule; switched off it moves to section 1.
  table_->selectRowAtIndexPath({0, 1}, false);
  list_->didSelectRowAtIndexPath(*table_, {0, 1});
  settle();
  ASSERT_EQ(top(), entry);
  EXPECT_EQ(entry->mode, WhitelistEntryViewController::Mode::Edit);
  EXPECT_EQ(entry->title, "Edit rule");
  EXPECT_EQ(entry->websiteTextField.lock()->text(), "example.com");
  type("/Page");
  EXPECT_EQ(entry->websiteTextField.lock()->text(), "example.compage");
  entry->enabledSwitch.lock()->setOn(false);
  before = date();
  entry->saveTap();
  settle();
  EXPECT_EQ(stored(), (std::vector<WhitelistElement>{{"keep.com", true, 0}, {"example.compage", false, 1}}));
  EXPECT_GT(date().timeIntervalSince1970(), before.timeIntervalSince1970());
  EXPECT_EQ(table_->numberOfRowsInSection(0), 1);
  EXPECT_EQ(table_->numberOfRowsInSection(1), 1);
  EXPECT_FALSE(table_->indexPathForSelectedRow()) << "the selection goes when the list comes back";

  std::filesystem::create_directories(FENDREL_SCREENSHOT_DIR);
  ASSERT_TRUE(uikit::Renderer::renderViewToPNG(*window_, std::string(FENDREL_SCREENSHOT_DIR) + "/whitelist.png", 2.0));

  // Delete from the disabled section: row 0 there is the rule at stored position 1.
  before = date();
  list_->commitEditingStyle(*table_, WhitelistViewController::EditingStyle::Delete, {1, 0});
  EXPECT_EQ(stored(), (std::vector<WhitelistElement>{{"keep.com", true, 0}}));
  EXPECT_GT(date().timeIntervalSince1970(), before.timeIntervalSince1970());
  EXPECT_EQ(table_->numberOfRowsInSection(1), 0);
}

TEST_F(WhitelistTests, ARemovedTextDisablesSaveAndLeavingWithoutSaveStoresNothing) {
  list_->addTap();
  settle();
  auto entry = top();
  ASSERT_TRUE(entry);
  type("a");
  EXPECT_TRUE(entry->saveBarButton->enabled);
  auto field = entry->websiteTextField.lock();
  field->setText("://?");
  field->sendActionsForControlEvents(uikit::UIControlEventEditingChanged);
  EXPECT_EQ(field->text(), "");
  EXPECT_FALSE(entry->saveBarButton->enabled);
  entry->saveTap();
  settle();
  EXPECT_EQ(navigation_->topViewController(), list_);
  EXPECT_TRUE(stored().empty());

  // Once the list screen is gone, Save only goes back.
  list_->addTap();
  settle();
  ASSERT_EQ(top(), entry);
  type("example.com");
  navigation_->setViewControllers({entry}, false);
  list_.reset();
  table_.reset();
  entry->save();
  settle();
  EXPECT_TRUE(stored().empty());
}

TEST_F(WhitelistTests, ChangesThatCannotBeStoredKeepTheEntryAndSayWhy) {
  ASSERT_TRUE(Singleton::shared().setWhitelist({{"keep.com", true, 0}}));
  table_->reloadData();
  // A folder in place of the settings' lock file fails every write, even for root.
  const std::string lock = Singleton::shared().userDefs()->filePath() + ".lock";
  std::filesystem::remove(lock);
  ASSERT_TRUE(std::filesystem::create_directory(lock));
  auto banners = MessageBanners::MessageBanners::sharedInstance();
  auto bannerSays = [&](const std::string& title) {
    test_support::runBannersUntil(*clock_, clock_->uptime() + 1.0);
    auto card = banners->current<MessageBanners::MessageView>();
    EXPECT_TRUE(card);
    if (!card) return;
    EXPECT_EQ(card->titleLabel()->text(), title);
    EXPECT_EQ(card->bodyLabel()->text().rfind("the settings cannot be stored: ", 0), 0u) << card->bodyLabel()->text();
    banners->hideAll();
    test_support::runBannersUntil(*clock_, clock_->uptime() + 1.0);
  };

  // Add and edit: the editor stays with what was typed.
  for (bool edit : {false, true}) {
    SCOPED_TRACE(edit ? "edit" : "add");
    if (edit) {
      list_->didSelectRowAtIndexPath(*table_, {0, 0});
    } else {
      list_->addTap();
    }
    settle();
    auto entry = top();
    ASSERT_TRUE(entry);
    type("x");
    const std::string typed = entry->websiteTextField.lock()->text();
    entry->saveTap();
    settle();
    EXPECT_EQ(top(), entry);
    EXPECT_EQ(entry->websiteTextField.lock()->text(), typed);
    bannerSays("Cannot save the rule");
    navigation_->popViewControllerAnimated(false);
    settle();
  }
  // Delete: the rule is still stored, so its row stays.
  list_->commitEditingStyle(*table_, WhitelistViewController::EditingStyle::Delete, {0, 0});
  EXPECT_EQ(table_->numberOfRowsInSection(0), 1);
  bannerSays("Cannot remove the rule");
  EXPECT_EQ(stored(), (std::vector<WhitelistElement>{{"keep.com", true, 0}}));
}

}  // namespace
}  // namespace fendrel
