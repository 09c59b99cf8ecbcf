#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "app/core/ListElement.h"
#include "app/core/tests/CoreDoubles.h"
#include "app/core/tests/CoreTestSupport.h"
#include "platform/dispatch/MainRunLoop.h"
#include "testing/ProgramRun.h"

namespace fendrel {
namespace {

using Case = ListElementState::Case;

/// A cell that remembers the state it was asked to draw each time.
struct RecordingCell : ListElementCellDelegate {
  std::weak_ptr<ListElement> element;
  std::vector<ListElementState> drawn;
  void listElementProgressUpdate() override {
    if (auto e = element.lock()) drawn.push_back(e->state());
  }
};

class ListElementTests : public ::testing::Test {
 protected:
  CloudObject entry(const std::string& id = "l1") {
    return *CloudObject::make(CloudObject::Kind::List,
                              test_support::listDictionary(id, server_.url("/" + id + ".json")), std::nullopt);
  }
  std::string cachedPath(const std::string& id = "l1") const {
    return root_.cachesPath() + "/1600000000" + id + ".json";
  }
  void cache(const std::string& id = "l1") {
    std::filesystem::create_directories(root_.cachesPath());
    std::ofstream(cachedPath(id)) << "[]";
  }
  void enable(const std::string& id) { ASSERT_TRUE(state_.compileService->enableList(entry(id))); }
  std::shared_ptr<RecordingCell> attachCell(const std::shared_ptr<ListElement>& element) {
    auto cell = std::make_shared<RecordingCell>();
    cell->element = element;
    element->setCellDelegate(cell);
    return cell;
  }
  void serveRules() {
    server_.setHandler([](const httplib::Request&, httplib::Response& response) {
      response.set_content(R"([{"trigger":{"url-filter":"x"},"action":{"type":"block"}}])",
                           "application/octet-stream");
    });
  }
  std::vector<bool>& compilations() { return state_.compileService->compilations; }

  test_support::ScopedManualClock clock_;
  test_support::ScopedDeviceRoot root_;
  test_support::ScopedAppState state_;
  test_support::LoopbackServer server_;
};

TEST_F(ListElementTests, AppEntryMakesNoElement) {
  auto app = CloudObject::make(CloudObject::Kind::App,
                               foundation::Dictionary{{"name", "A"}, {"modifiedAt", 1}, {"iconUrl", "https://i.test/a"},
                                                      {"objectId", "a"}, {"iTunesId", "1"}},
                               std::nullopt);
  ASSERT_TRUE(app);
  EXPECT_EQ(ListElement::make(*app), nullptr);
}

TEST_F(ListElementTests, CachedListShowsItsEnabledStateAtOnceWithoutDownloading) {
  cache("l1");
  cache("l2");
  enable("l1");
  auto enabled = ListElement::make(entry("l1"));
  auto disabled = ListElement::make(entry("l2"));
  EXPECT_EQ(enabled->state().kind(), Case::DownloadedEnabled);
  EXPECT_EQ(disabled->state().kind(), Case::DownloadedDisabled);
  EXPECT_EQ(enabled->attachmentKey(), "attachment");
  EXPECT_EQ(server_.requests(), 0);
  EXPECT_FALSE(enabled->isDownloadInFlight());
}

TEST_F(ListElementTests, ADamagedCachedListCountsAsMissingAndIsDownloadedAgain) {
  serveRules();
  const std::string random("\x93\x01\xfe\x00\x7f[{\x80", 9);
  const std::pair<const char*, std::string> damaged[] = {
      {"text", "garbage"}, {"random bytes", random}, {"empty", ""}, {"cut short", "[{\"trigger\":"}, {"trailing bytes", "[] x"}};
  int requests = 0;
  for (const auto& [name, contents] : damaged) {
    SCOPED_TRACE(name);
    std::filesystem::create_directories(root_.cachesPath());
    std::ofstream(cachedPath(), std::ios::binary | std::ios::trunc) << contents;
    auto element = ListElement::make(entry());
    EXPECT_EQ(element->state().kind(), Case::PreparingForDownload);
    ASSERT_TRUE(test_support::pumpUntil([&] { return element->state().kind() == Case::DownloadedDisabled; }));
    EXPECT_EQ(server_.requests(), ++requests);
    EXPECT_TRUE(element->obj().existingAttachmentURL());
    EXPECT_EQ(testing_support::readText(cachedPath()), R"([{"trigger":{"url-filter":"x"},"action":{"type":"block"}}])");
    std::filesystem::remove(cachedPath());
  }
  // Any JSON is a readable list, even one that holds no rule.
  std::ofstream(cachedPath(), std::ios::binary | std::ios::trunc) << "7";
  EXPECT_TRUE(ListElement::make(entry())->obj().existingAttachmentURL());
}

TEST_F(ListElementTests, DownloadOfADisabledListEndsDownloadedWithoutCompiling) {
  serveRules();
  auto element = ListElement::make(entry());
  EXPECT_EQ(element->state().kind(), Case::PreparingForDownload);
  EXPECT_TRUE(element->isDownloadInFlight());
  auto cell = attachCell(element);
  ASSERT_TRUE(test_support::pumpUntil([&] { return element->state().kind() == Case::DownloadedDisabled; }));
  EXPECT_FALSE(element->isDownloadInFlight());
  ASSERT_GE(cell->drawn.size(), 2u);
  EXPECT_EQ(cell->drawn.front().kind(), Case::Downloading);
  EXPECT_FLOAT_EQ(cell->drawn[cell->drawn.size() - 2].percent(), 1.0f);
  EXPECT_EQ(cell->drawn.back().kind(), Case::DownloadedDisabled);
  EXPECT_TRUE(compilations().empty());
}

TEST_F(ListElementTests, SwitchingOnDuringTheDownloadShowsEnabledThenCompilesForcedOnCompletion) {
  serveRules();
  auto element = ListElement::make(entry());
  auto cell = attachCell(element);
  ASSERT_TRUE(element->setEnabled(true));
  EXPECT_EQ(element->state().kind(), Case::DownloadedEnabled);
  ASSERT_EQ(cell->drawn.size(), 1u);
  EXPECT_EQ(compilations(), std::vector<bool>{false});
  EXPECT_TRUE(Singleton::shared().extConfigIDs().contains("l1"));

  ASSERT_TRUE(test_support::pumpUntil([&] { return compilations().size() == 2; }));
  EXPECT_EQ(compilations(), (std::vector<bool>{false, true}));
  EXPECT_EQ(element->state().kind(), Case::DownloadedEnabled);
  EXPECT_TRUE(std::filesystem::exists(cachedPath()));

  ASSERT_TRUE(element->setEnabled(false));
  EXPECT_EQ(element->state().kind(), Case::DownloadedDisabled);
  EXPECT_FALSE(Singleton::shared().extConfigIDs().contains("l1"));
  EXPECT_EQ(compilations().back(), false);
}

TEST_F(ListElementTests, FailedRequestLeavesPreparingForDownloadAndEndsTheDownload) {
  // A failed download calls no completion; the element still learns that it is over.
  struct Case404OrPage {
    const char* name;
    int status;
    const char* body;
  };
  for (const Case404OrPage& answer : {Case404OrPage{"not found", 404, "<html>Not Found</html>"},
                                      Case404OrPage{"sign-in page", 200, "<html>Sign in</html>"}}) {
    SCOPED_TRACE(answer.name);
    server_.setHandler([answer](const httplib::Request&, httplib::Response& response) {
      response.status = answer.status;
      response.set_content(answer.body, "text/html");
    });
    auto element = ListElement::make(entry());
    EXPECT_TRUE(element->isDownloadInFlight());
    auto cell = attachCell(element);
    ASSERT_TRUE(test_support::pumpUntil([&] { return !element->isDownloadInFlight(); }));
    EXPECT_FALSE(cell->drawn.empty());
    EXPECT_EQ(element->state().kind(), Case::PreparingForDownload);
  }
  EXPECT_TRUE(compilations().empty());
}

TEST_F(ListElementTests, AFileThatIsNeverStoredIsDownloadedAtMostThreeTimes) {
  enable("l1");
  // Each answer takes the cache folder away before the downloader writes into it.
  const std::string caches = root_.cachesPath();
  server_.setHandler([caches](const httplib::Request&, httplib::Response& response) {
    std::error_code ignored;
    std::filesystem::remove_all(caches, ignored);
    response.set_content("[]", "application/json");
  });
  auto element = ListElement::make(entry());
  ASSERT_TRUE(test_support::pumpUntil([&] { return compilations().size() == 1; }));
  EXPECT_EQ(element->state().kind(), Case::PreparingForDownload);
  EXPECT_EQ(server_.requests(), 1);
  // The end of the first download must not end the wait for the restart.
  dispatch::runMainLoopUntil([] { return false; }, 0.2);
  EXPECT_TRUE(element->isDownloadInFlight());

  clock_->advance(ListElement::kRestartDelays[0] - 0.5);
  dispatch::drainMainQueue();
  EXPECT_EQ(server_.requests(), 1);  // not yet due
  clock_->advance(0.5);
  ASSERT_TRUE(test_support::pumpUntil([&] { return compilations().size() == 2; }));
  EXPECT_EQ(server_.requests(), 2);

  clock_->advance(ListElement::kRestartDelays[1]);
  ASSERT_TRUE(test_support::pumpUntil([&] { return compilations().size() == 3; }));
  EXPECT_EQ(server_.requests(), 3);

  ASSERT_TRUE(test_support::pumpUntil([&] { return !element->isDownloadInFlight(); }));
  clock_->advance(3600);
  dispatch::runMainLoopUntil([] { return false; }, 0.2);
  EXPECT_EQ(server_.requests(), 3);
  EXPECT_FALSE(element->isDownloadInFlight());
  EXPECT_EQ(element->state().kind(), Case::PreparingForDownload);
  EXPECT_EQ(compilations(), (std::vector<bool>{true, true, true}));
}

TEST_F(ListElementTests, AReplacedElementIsNotKeptAliveByItsDownload) {
  serveRules();
  auto element = ListElement::make(entry());
  std::weak_ptr<ListElement> weak = element;
  element.reset();
  EXPECT_TRUE(weak.expired());
  // The download still stores the file; nobody is told.
  ASSERT_TRUE(test_support::pumpUntil([&] { return std::filesystem::exists(cachedPath()); }));
  EXPECT_TRUE(compilations().empty());
}

TEST_F(ListElementTests, CellDelegateIsWeak) {
  cache();
  auto element = ListElement::make(entry());
  auto cell = attachCell(element);
  EXPECT_EQ(element->cellDelegate(), cell);
  cell.reset();
  EXPECT_EQ(element->cellDelegate(), nullptr);
  ASSERT_TRUE(element->setEnabled(true));  // nobody to tell; the state still changes
  EXPECT_EQ(element->state().kind(), Case::DownloadedEnabled);
}

}  // namespace
}  // namespace fendrel
