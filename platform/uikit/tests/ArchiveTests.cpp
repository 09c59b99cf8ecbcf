#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/foundation/Bundle.h"
#include "platform/uikit/Archive.h"
#include "platform/uikit/Log.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/UIKitError.h"
#include "platform/uikit/ViewController.h"
#include "testing/TemporaryFolder.h"

namespace uikit {
namespace {

void write(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << text;
}

// A banner view with an outlet to its label; it records what it saw when it woke.
class BannerView : public UIView {
 public:
  std::string className() const override { return "BannerView"; }
  std::shared_ptr<UILabel> titleLabel;
  std::string titleAtAwake = "<not connected>";
  void awakeFromNib() override { titleAtAwake = titleLabel ? titleLabel->text() : "<not connected>"; }
};

class ReusableCell : public UITableViewCell {
 public:
  std::string className() const override { return "ReusableCell"; }
  int prepared = 0;
  void prepareForReuse() override { prepared++; }
};

class ArchiveTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ClassRegistry::registerClass("BannerView", "UIView", [] { return std::make_shared<BannerView>(); });
    ClassRegistry::registerOutlet<BannerView, UILabel>(
        "BannerView", "titleLabel", [](BannerView& b, std::shared_ptr<UILabel> l) { b.titleLabel = std::move(l); });
    ClassRegistry::registerClass("ReusableCell", "UITableViewCell", [] { return std::make_shared<ReusableCell>(); });
  }
  void SetUp() override {
    write(library.file("Lib.bundle/Info.json"), "{}");
    write(app.file("App.app/Info.json"), "{}");
    foundation::Bundle::setMainBundleName(app.file("App.app"));
    foundation::Bundle::resetMain();
    libraryBundle = foundation::Bundle::atPath(library.file("Lib.bundle"));
  }
  void TearDown() override {
    foundation::Bundle::setMainBundleName("");
    foundation::Bundle::resetMain();
  }

  testing_support::TemporaryFolder library{"uikit-lib"}, app{"uikit-app"};
  std::shared_ptr<const foundation::Bundle> libraryBundle;
};

constexpr const char* kBannerNib = R"({"objects": [
  {"class": "UIView", "properties": {"frame": [0, 0, 10, 10]}},
  {"id": "banner", "class": "BannerView", "properties": {"backgroundColor": "#FF382480", "frame": [0, 0, 390, 90]},
   "outlets": {"titleLabel": "title"},
   "subviews": [{"id": "title", "class": "UILabel", "properties": {"text": "Library", "textAlignment": "center"}}]}
]})";

TEST_F(ArchiveTest, NibGivesObjectsInOrderWithOutletsBeforeAwake) {
  write(library.file("Lib.bundle/Banner.nib"), kBannerNib);
  auto objects = loadNibNamed("Banner", nullptr, libraryBundle);
  ASSERT_TRUE(objects.ok()) << objects.error().localizedDescription();
  ASSERT_EQ(objects->size(), 2u);
  EXPECT_EQ(std::dynamic_pointer_cast<BannerView>((*objects)[0]), nullptr);
  auto banner = firstObjectOfType<BannerView>(*objects);
  ASSERT_EQ(banner, (*objects)[1]) << "the class filter finds the second object";
  EXPECT_EQ(banner->titleAtAwake, "Library") << "outlets are connected before awakeFromNib";
  EXPECT_EQ(banner->titleLabel->superview(), banner);
  EXPECT_EQ(banner->titleLabel->textAlignment, NSTextAlignment::Center);
  EXPECT_NEAR(banner->backgroundColor()->alpha(), 128 / 255.0, 1e-9);

  // The app's own nib of the same name wins.
  std::string appNib = kBannerNib;
  appNib.replace(appNib.find("Library"), 7, "AppOwn!");
  write(app.file("App.app/Banner.nib"), appNib);
  auto replaced = loadNibNamed("Banner", nullptr, libraryBundle);
  ASSERT_TRUE(replaced.ok());
  EXPECT_EQ(firstObjectOfType<BannerView>(*replaced)->titleAtAwake, "AppOwn!");
}

TEST_F(ArchiveTest, BadArchivesFailCleanly) {
  struct Case {
    const char* text;
    UIKitError code;
  } cases[] = {
      {"not json", UIKitError::ArchiveMalformed},
      {R"({"objects": [{"class": "NoSuchView"}]})", UIKitError::ArchiveUnknownClass},
      {R"({"objects": [{"class": "UIView", "subviews": {"a": 1}}]})", UIKitError::ArchiveMalformed},
      {R"({"objects": [{"class": "UIView", "properties": [1]}]})", UIKitError::ArchiveMalformed},
      {R"({"objects": [{"class": "UIView", "properties": {"glow": 1}}]})", UIKitError::ArchiveUnknownProperty},
      {R"({"objects": [{"class": "UIView", "properties": {"frame": [0, 0, -1, 5]}}]})", UIKitError::ArchiveBadValue},
      {R"({"objects": [{"class": "UIView", "properties": {"backgroundColor": "#12345"}}]})", UIKitError::ArchiveBadValue},
      {R"({"objects": [{"class": "UILabel", "properties": {"textAlignment": "middle"}}]})", UIKitError::ArchiveBadValue},
      {R"({"objects": [{"class": "UILabel", "properties": {"textAlignment": 5}}]})", UIKitError::ArchiveBadValue},
      {R"({"objects": [{"class": "BannerView", "outlets": {"titleLabel": "missing"}}]})", UIKitError::ArchiveUnknownObject},
      {R"({"objects": [{"id": "v", "class": "UIView"}, {"class": "BannerView", "outlets": {"titleLabel": "v"}}]})",
       UIKitError::ArchiveBadValue},
  };
  for (const auto& c : cases) {
    write(library.file("Lib.bundle/Bad.nib"), c.text);
    auto objects = loadNibNamed("Bad", nullptr, libraryBundle);
    ASSERT_FALSE(objects.ok()) << c.text;
    EXPECT_EQ(objects.error().code(), static_cast<std::int64_t>(c.code)) << c.text;
  }
  EXPECT_EQ(loadNibNamed("Nowhere", nullptr, libraryBundle).error().code(),
            static_cast<std::int64_t>(UIKitError::ArchiveNotFound));
}

class ListController : public UIViewController, public UITableViewDataSource {
 public:
  std::string className() const override { return "ListController"; }
  std::shared_ptr<UITableView> table;
  long rows = 30;
  std::string preparedSegue;
  long numberOfRowsInSection(UITableView&, long) override { return rows; }
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& t, const NSIndexPath& path) override {
    auto cell = t.dequeueReusableCell("Row", path);
    cell->textLabel()->setText("row " + std::to_string(path.row));
    return cell;
  }
  void prepareForSegue(UIStoryboardSegue& segue) override { preparedSegue = segue.identifier(); }
};

constexpr const char* kStoryboard = R"({
  "initialScene": "nav",
  "scenes": [
    {"identifier": "nav", "controller": {"class": "UINavigationController"}, "rootViewController": "list"},
    {"identifier": "list",
     "controller": {"id": "c", "class": "ListController", "properties": {"title": "Lists"}, "outlets": {"table": "t"},
                    "view": {"id": "t", "class": "UITableView", "properties": {"frame": [0, 0, 390, 440]},
                             "outlets": {"dataSource": "c"}}},
     "prototypes": [{"class": "ReusableCell", "properties": {"reuseIdentifier": "Row"}}]},
    {"identifier": "detail", "controller": {"class": "UIViewController", "properties": {"title": "Detail"}}}
  ],
  "segues": [{"identifier": "WhitelistCell", "source": "list", "destination": "detail", "kind": "push"}]
})";

// A controller that notes what it sees when its view loads.
class LoadingController : public UIViewController {
 public:
  std::string className() const override { return "LoadingController"; }
  std::shared_ptr<UILabel> label;
  std::vector<std::string> loads;
  void viewDidLoad() override { loads.push_back(label ? label->text() : "<not connected>"); }
};

TEST_F(ArchiveTest, SceneViewsLoadAtFirstUseWithOutletsConnected) {
  ClassRegistry::registerClass("LoadingController", "UIViewController",
                               [] { return std::make_shared<LoadingController>(); });
  ClassRegistry::registerOutlet<LoadingController, UILabel>(
      "LoadingController", "label", [](LoadingController& c, std::shared_ptr<UILabel> l) { c.label = std::move(l); });
  auto board = UIStoryboard::fromJSON("Loading", R"({"scenes": [{"identifier": "a",
      "controller": {"class": "LoadingController", "outlets": {"label": "l"},
                     "view": {"class": "UIView", "subviews": [{"id": "l", "class": "UILabel", "properties": {"text": "hi"}}]}}}]})",
                                      nullptr);
  ASSERT_TRUE(board.ok());
  auto made = (*board)->instantiateViewControllerWithIdentifier("a");
  ASSERT_TRUE(made.ok());
  auto& controller = dynamic_cast<LoadingController&>(**made);
  EXPECT_TRUE(controller.loads.empty());
  controller.view();
  controller.view();
  EXPECT_EQ(controller.loads, (std::vector<std::string>{"hi"}));
}

TEST_F(ArchiveTest, StoryboardScenesPrototypesAndSegues) {
  ClassRegistry::registerClass("ListController", "UIViewController", [] { return std::make_shared<ListController>(); });
  ClassRegistry::registerOutlet<ListController, UITableView>(
      "ListController", "table", [](ListController& c, std::shared_ptr<UITableView> t) { c.table = std::move(t); });
  write(app.file("App.app/Main.storyboard"), kStoryboard);
  auto board = UIStoryboard::storyboardWithName("Main");
  ASSERT_TRUE(board.ok()) << board.error().localizedDescription();

  auto loop = UIStoryboard::fromJSON("Loop", R"({"scenes": [
      {"identifier": "a", "controller": {"class": "UINavigationController"}, "rootViewController": "b"},
      {"identifier": "b", "controller": {"class": "UINavigationController"}, "rootViewController": "a"}]})", nullptr);
  ASSERT_TRUE(loop.ok());
  EXPECT_EQ((*loop)->instantiateViewControllerWithIdentifier("a").error().code(),
            static_cast<std::int64_t>(UIKitError::ArchiveMalformed))
      << "a chain of root controllers that loops is refused, not followed for ever";

  auto missing = (*board)->instantiateViewControllerWithIdentifier("Nope");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code(), static_cast<std::int64_t>(UIKitError::StoryboardUnknownIdentifier));

  auto initial = (*board)->instantiateInitialViewController();
  ASSERT_TRUE(initial.ok()) << initial.error().localizedDescription();
  auto nav = std::dynamic_pointer_cast<UINavigationController>(*initial);
  ASSERT_TRUE(nav);
  auto list = std::dynamic_pointer_cast<ListController>(nav->topViewController());
  ASSERT_TRUE(list);
  EXPECT_EQ(list->title, "Lists");
  ASSERT_EQ(list->table, list->view());

  // Ten 44-point rows fit in 440 points; scrolling recycles cells through prepareForReuse.
  auto& table = *list->table;
  table.reloadData();
  EXPECT_EQ(table.indexPathsForVisibleRows().size(), 10u);
  auto first = std::dynamic_pointer_cast<ReusableCell>(table.cellForRowAtIndexPath({0, 0}));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->prepared, 0);
  EXPECT_EQ(table.cellForRowAtIndexPath({0, 20}), nullptr) << "not visible";
  table.setContentOffset({0, 440});
  table.layoutIfNeeded();
  ASSERT_TRUE(table.cellForRowAtIndexPath({0, 10}));
  EXPECT_EQ(table.cellForRowAtIndexPath({0, 0}), nullptr);
  int reused = 0;
  for (auto& path : table.indexPathsForVisibleRows()) {
    auto cell = std::dynamic_pointer_cast<ReusableCell>(table.cellForRowAtIndexPath(path));
    reused += cell->prepared;
    EXPECT_EQ(cell->textLabel()->text(), "row " + std::to_string(path.row));
  }
  EXPECT_EQ(reused, 10) << "every cell of the new page came from the pool";

  auto window = UIWindow::create({0, 0, 390, 844});
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  ASSERT_TRUE((*board)->performSegue("WhitelistCell", list).ok());
  EXPECT_EQ(list->preparedSegue, "WhitelistCell");
  EXPECT_EQ(nav->topViewController()->title, "Detail");
  EXPECT_FALSE((*board)->performSegue("Nope", list).ok());
  UIApplication::shared().reset();
}

TEST_F(ArchiveTest, LocalizedStringsComeFromTheBundle) {
  write(app.file("App.app/InfoPlist.strings"), R"({"CFBundleDisplayName": "Vane"})");
  EXPECT_EQ(localizedString("CFBundleDisplayName", "InfoPlist", "Sky Vane"), "Vane");
  EXPECT_EQ(localizedString("Other", "InfoPlist", "Fallback"), "Fallback");
  EXPECT_EQ(localizedString("Other", "Missing", ""), "Other");
}

TEST_F(ArchiveTest, ValidatorNamesTheArchiveThatDoesNotLoad) {
  write(library.file("ok/Banner.nib"), kBannerNib);
  auto count = validateArchives(library.path());
  ASSERT_TRUE(count.ok()) << count.error().localizedDescription();
  EXPECT_EQ(*count, 1u);
  write(library.file("ok/Broken.nib"), R"({"objects": [{"class": "Missing"}]})");
  auto failed = validateArchives(library.path());
  ASSERT_FALSE(failed.ok());
  EXPECT_NE(failed.error().localizedDescription().find("Broken.nib"), std::string::npos);
}

}  // namespace
}  // namespace uikit
