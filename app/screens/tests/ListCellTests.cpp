#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <set>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "app/screens/CatalogueIcon.h"
#include "app/screens/FirstViewController.h"
#include "app/screens/ListCell.h"
#include "app/screens/tests/ScreensTestSupport.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Accessibility.h"
#include "platform/uikit/Renderer.h"

namespace fendrel {
namespace {

using Case = ListElementState::Case;
using Kind = ActivityIndicatorButtonProgressBarStyle::Kind;

TEST(ListStateAccessibilityTextTests, EveryStateAndTheDownloadPercentage) {
  struct Row {
    ListElementState state;
    const char* text;
  };
  const Row rows[] = {
      {ListElementState::NotDownloaded(), "(not downloaded yet)"},
      {ListElementState::PreparingForDownload(), "(preparing for download)"},
      {ListElementState::DownloadedDisabled(), "(disabled, double tap to toggle)"},
      {ListElementState::DownloadedEnabled(), "(enabled, double tap to toggle)"},
      // The fraction is spoken as a rounded whole percentage, never outside 0 to 100.
      {ListElementState::Downloading(0.42f), "(downloading 42%)"},
      {ListElementState::Downloading(0.0f), "(downloading 0%)"},
      {ListElementState::Downloading(0.996f), "(downloading 100%)"},
      {ListElementState::Downloading(1.7f), "(downloading 100%)"},
      {ListElementState::Downloading(-0.3f), "(downloading 0%)"},
      {ListElementState::Downloading(std::numeric_limits<float>::quiet_NaN()), "(downloading 0%)"},
  };
  for (const auto& row : rows) EXPECT_EQ(listStateAccessibilityText(row.state), row.text);
}

class ListCellTests : public ::testing::Test {
 protected:
  ~ListCellTests() override { releaseBody(); }

  CloudObject entry(const std::string& id = "l1") {
    return *CloudObject::make(CloudObject::Kind::List,
                              test_support::listDictionary(id, server_.url("/" + id + ".json")), std::nullopt);
  }
  void cache(const std::string& id) {
    std::filesystem::create_directories(root_.cachesPath());
    std::ofstream(root_.cachesPath() + "/1600000000" + id + ".json") << "[]";
  }
  /// A cell from the main storyboard's prototype, showing `element`.
  std::shared_ptr<ListCell> cellFor(const std::shared_ptr<ListElement>& element) {
    if (!lists_) {
      lists_ = screens_.instantiate<FirstViewController>("Main", "FirstViewController");
      if (!lists_) return nullptr;
      lists_->view();
      table_ = lists_->tableView.lock();
    }
    auto cell = std::dynamic_pointer_cast<ListCell>(table_->dequeueReusableCell("ListCell", {0, 0}));
    if (!cell) return nullptr;
    cell->list = element;
    cell->configure();
    return cell;
  }
  /// Serves a 100-byte rule list whose first 42 bytes come at once and the rest only after
  /// releaseBody().
  void serveSlowly() {
    server_.setHandler([this](const httplib::Request&, httplib::Response& response) {
      std::string body = R"([{"trigger":{"url-filter":"x"},"action":{"type":"block"}}])";
      body.resize(100, ' ');
      response.set_content_provider(body.size(), "application/json",
                                    [this, body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                      if (offset == 0) return sink.write(body.data(), 42);
                                      std::unique_lock lock(mutex_);
                                      released_.wait(lock, [this] { return release_; });
                                      return sink.write(body.data() + offset, body.size() - offset);
                                    });
    });
  }
  void releaseBody() {
    std::lock_guard lock(mutex_);
    release_ = true;
    released_.notify_all();
  }
  static std::string spoken(ListCell& cell) { return cell.titleLabel.lock()->accessibilityLabel; }

  test_support::ScopedManualClock clock_;
  test_support::ScopedDeviceRoot root_;
  test_support::ScopedAppState state_;
  test_support::ScopedScreens screens_;
  std::mutex mutex_;
  std::condition_variable released_;
  bool release_ = false;
  test_support::LoopbackServer server_;
  std::shared_ptr<FirstViewController> lists_;
  std::shared_ptr<uikit::UITableView> table_;
};

TEST_F(ListCellTests, DownloadedAndPreparingStatesDrawTheirControls) {
  cache("on");
  cache("off");
  ASSERT_TRUE(state_.compileService->enableList(entry("on")));
  struct Row {
    const char* id;
    Case state;
    bool switchOn;
    double switchAlpha;
    Kind ring;
    bool buttonInteractive;
    const char* spokenState;
  };
  const Row rows[] = {
      {"on", Case::DownloadedEnabled, true, 1.0, Kind::inactive, true, "(enabled, double tap to toggle)"},
      {"off", Case::DownloadedDisabled, false, 1.0, Kind::inactive, true, "(disabled, double tap to toggle)"},
      // No cached file: the element asks for its download and the button spins until it starts.
      {"new", Case::PreparingForDownload, false, 0.0, Kind::spinning, false, "(preparing for download)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.id);
    auto element = ListElement::make(entry(row.id));
    ASSERT_EQ(element->state().kind(), row.state);
    auto cell = cellFor(element);
    ASSERT_TRUE(cell);
    auto toggle = cell->enabledSwitch.lock();
    auto button = cell->downloadButton.lock();
    EXPECT_EQ(cell->titleLabel.lock()->text(), "List " + std::string(row.id));
    EXPECT_EQ(cell->countLabel.lock()->text(), "12 entries");
    EXPECT_EQ(cell->descLabel.lock()->text(), "About " + std::string(row.id));
    EXPECT_EQ(element->cellDelegate(), cell);
    EXPECT_EQ(toggle->isOn(), row.switchOn);
    EXPECT_EQ(toggle->alpha(), row.switchAlpha);
    EXPECT_EQ(button->alpha(), 1.0 - row.switchAlpha);
    EXPECT_EQ(button->activityState().progressBarStyle.kind(), row.ring);
    EXPECT_EQ(button->isUserInteractionEnabled(), row.buttonInteractive);
    EXPECT_EQ(button->style(), ActivityIndicatorButtonStyle::outline);
    EXPECT_TRUE(cell->isAccessibilityElement);
    EXPECT_EQ(cell->accessibilityTraits, uikit::UIAccessibilityTraitButton);
    EXPECT_EQ(spoken(*cell), "List " + std::string(row.id) + " " + row.spokenState);
  }
}

TEST_F(ListCellTests, DownloadAt42PercentShowsTheRingAndTheSpokenPercentage) {
  serveSlowly();
  auto element = ListElement::make(entry("slow"));
  auto cell = cellFor(element);
  ASSERT_TRUE(cell);
  ASSERT_TRUE(test_support::pumpUntil(
      [&] { return element->state().kind() == Case::Downloading && element->state().percent() > 0.4f; }));
  auto button = cell->downloadButton.lock();
  ASSERT_TRUE(button->activityState().progressBarStyle.percentageValue());
  EXPECT_FLOAT_EQ(*button->activityState().progressBarStyle.percentageValue(), 0.42f);
  EXPECT_EQ(button->activityState().image, nullptr);
  EXPECT_FALSE(button->isUserInteractionEnabled());
  EXPECT_EQ(button->alpha(), 1.0);
  EXPECT_EQ(cell->enabledSwitch.lock()->alpha(), 0.0);
  // The spoken state follows the download, without any switch flip.
  EXPECT_EQ(spoken(*cell), "List slow (downloading 42%)");

  // The picture of the cell as the download stands, once the ring has drawn its progress.
  cell->setFrame({0, 0, 390, 76});
  cell->layoutIfNeeded();
  clock_->advance(1.0);
  const std::string shot = std::string(FENDREL_SCREENSHOT_DIR) + "/list-cell-downloading.png";
  std::filesystem::create_directories(FENDREL_SCREENSHOT_DIR);
  ASSERT_TRUE(uikit::Renderer::renderViewToPNG(*cell, shot, 2.0));

  releaseBody();
  ASSERT_TRUE(test_support::pumpUntil([&] { return element->state().kind() == Case::DownloadedDisabled; }));
  EXPECT_EQ(cell->enabledSwitch.lock()->alpha(), 1.0);
  EXPECT_EQ(button->activityState().progressBarStyle.kind(), Kind::inactive);
  EXPECT_TRUE(button->isUserInteractionEnabled());
  EXPECT_EQ(spoken(*cell), "List slow (disabled, double tap to toggle)");
}

TEST_F(ListCellTests, SwitchingADownloadedListOnEnablesItOnceAndCompiles) {
  cache("l1");
  auto element = ListElement::make(entry("l1"));
  auto cell = cellFor(element);
  ASSERT_TRUE(cell);
  auto toggle = cell->enabledSwitch.lock();
  toggle->setOn(true);
  toggle->sendActionsForControlEvents(uikit::UIControlEventValueChanged);
  EXPECT_EQ(element->state().kind(), Case::DownloadedEnabled);
  EXPECT_EQ(Singleton::shared().extConfigIDs(), std::set<std::string>{"l1"});
  EXPECT_EQ(state_.compileService->compilations, std::vector<bool>{false});
  EXPECT_EQ(spoken(*cell), "List l1 (enabled, double tap to toggle)");

  // The spoken double tap flips switch and list together.
  cell->toggleSwitch();
  EXPECT_FALSE(toggle->isOn());
  EXPECT_EQ(element->state().kind(), Case::DownloadedDisabled);
  EXPECT_TRUE(Singleton::shared().extConfigIDs().empty());
  EXPECT_EQ(state_.compileService->compilations, (std::vector<bool>{false, false}));
}

TEST_F(ListCellTests, ToggleWaitsForTheDownloadAndGoneElementsAreIgnored) {
  auto element = ListElement::make(entry("new"));
  ASSERT_EQ(element->state().kind(), Case::PreparingForDownload);
  auto cell = cellFor(element);
  ASSERT_TRUE(cell);
  cell->toggleSwitch();
  EXPECT_FALSE(cell->enabledSwitch.lock()->isOn());
  EXPECT_TRUE(state_.compileService->compilations.empty());

  // A reused cell waits for its new icon with the spinner running.
  cell->prepareForReuse();
  EXPECT_EQ(cell->iconImageView.lock()->image(), nullptr);
  EXPECT_TRUE(cell->iconSpinner.lock()->isAnimating());

  // Once the element is gone the cell keeps what it showed.
  const std::string before = spoken(*cell);
  element.reset();
  foundation::NotificationCenter::defaultCenter().post(ListCell::kProgressUpdateNotification);
  cell->configure();
  EXPECT_EQ(spoken(*cell), before);
}

TEST_F(ListCellTests, AppCellRoundsItsIconAndShowsItsSpinnerAtTheTrailingEdge) {
  ASSERT_TRUE(cellFor(nullptr) || table_);
  auto cell = std::dynamic_pointer_cast<AppCell>(table_->dequeueReusableCell("AppCell", {2, 0}));
  ASSERT_TRUE(cell);
  auto icon = cell->appImageView.lock();
  EXPECT_EQ(icon->layer()->cornerRadius(), 12.0);
  EXPECT_TRUE(icon->clipsToBounds());
  EXPECT_EQ(icon->layer()->borderWidth(), 0.1);
  EXPECT_EQ(cell->spinner->style, uikit::UIActivityIndicatorViewStyle::Gray);

  cell->setFrame({0, 0, 390, 76});
  cell->startSpinner();
  cell->layoutIfNeeded();
  EXPECT_TRUE(cell->spinner->isAnimating());
  EXPECT_TRUE(cell->spinner->backgroundColor());
  EXPECT_EQ(cell->spinner->style, uikit::UIActivityIndicatorViewStyle::Gray);
  const auto frame = cell->spinner->frame();
  EXPECT_DOUBLE_EQ(frame.origin.x + frame.size.width, cell->contentView()->bounds().size.width - 15.0);
  EXPECT_DOUBLE_EQ(frame.origin.y + frame.size.height / 2, cell->contentView()->bounds().size.height / 2);

  // Before system version 13 the spinner is the medium style on white.
  uikit::UIDevice::current().systemVersion = "12.4";
  auto older = std::dynamic_pointer_cast<AppCell>(table_->dequeueReusableCell("AppCell", {2, 1}));
  older->startSpinner();
  uikit::UIDevice::current().systemVersion = "17.0";
  EXPECT_EQ(older->spinner->style, uikit::UIActivityIndicatorViewStyle::Medium);
  EXPECT_EQ(older->spinner->backgroundColor(), uikit::UIColor::whiteColor());
}

/// One table row showing `cell`.
struct OneRow : uikit::UITableViewDataSource {
  std::shared_ptr<uikit::UITableViewCell> cell;
  long numberOfRowsInSection(uikit::UITableView&, long) override { return 1; }
  std::shared_ptr<uikit::UITableViewCell> cellForRowAtIndexPath(uikit::UITableView&, const uikit::NSIndexPath&) override {
    return cell;
  }
};

TEST_F(ListCellTests, IconsAreFetchedOnceThenReadFromTheCacheFolder) {
  auto swatch = uikit::UIView::create({0, 0, 8, 8});
  swatch->setBackgroundColor(uikit::UIColor::redColor());
  auto png = uikit::UIImagePNGRepresentation(**uikit::Renderer::renderView(*swatch, 1.0));
  ASSERT_TRUE(png);
  std::atomic<int> iconRequests = 0;
  server_.setHandler([&png, &iconRequests](const httplib::Request& request, httplib::Response& response) {
    if (request.path != "/img/a.png") return;  // the list's own download gets nothing
    ++iconRequests;
    response.set_content(std::string(png->view()), "image/png");
  });
  auto icon = *CloudObject::make(
      CloudObject::Kind::App,
      foundation::Dictionary{{"name", "A"}, {"modifiedAt", 1}, {"iconUrl", server_.url("/img/a.png")},
                             {"objectId", "a"}, {"iTunesId", "1"}},
      std::nullopt);
  auto element = ListElement::make(entry("l1"));
  auto cell = cellFor(element);
  ASSERT_TRUE(cell);
  auto rows = std::make_shared<OneRow>();
  rows->cell = cell;
  table_->dataSource = rows;
  table_->reloadData();
  table_->layoutIfNeeded();
  ASSERT_EQ(table_->cellForRowAtIndexPath({0, 0}), rows->cell);
  auto slot = [](uikit::UITableViewCell& cell) {
    auto& list = dynamic_cast<ListCell&>(cell);
    return CatalogueIconSlot{list.iconImageView.lock(), list.iconSpinner.lock()};
  };

  for (int load = 0; load < 2; ++load) {
    SCOPED_TRACE(load);
    cell->prepareForReuse();
    showCatalogueIcon(icon, table_, {0, 0}, {50, 50}, slot);
    ASSERT_TRUE(test_support::pumpUntil([&] { return cell->iconImageView.lock()->image() != nullptr; }));
    EXPECT_FALSE(cell->iconSpinner.lock()->isAnimating());
    // The file name comes from the URL's path without its root, inside the caches folder.
    EXPECT_TRUE(std::filesystem::exists(root_.cachesPath() + "/img_a.png"));
    EXPECT_EQ(iconRequests.load(), 1);
  }
}

}  // namespace
}  // namespace fendrel
