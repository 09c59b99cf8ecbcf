// Screenshots and view-hierarchy texts of the application's windows: what they contain, which
// events carry them, and the integrations that attach them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Screenshots/DozidiScreenshot.h"
#include "dozidi-cocoa/Sources/Dozidi/Screenshots/DozidiScreenshotIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Screenshots/DozidiViewHierarchy.h"
#include "dozidi-cocoa/Sources/Dozidi/Screenshots/DozidiViewHierarchyIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Screenshots/UIViewDozidi.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiUIApplication.h"
#include "dozidi-cocoa/Sources/Dozidi/tests/DebugLogDeviceRoot.h"
#include "dozidi-cocoa/Sources/Dozidi/tests/LogCapture.h"
#include "dozidi-cocoa/Sources/Dozidi/tests/SentAttachments.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/FileManager.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/ImageDecoding.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "testing/TemporaryFolder.h"

namespace {

using uikit::UIColor;
using uikit::UIView;
using uikit::UIWindow;

constexpr std::uint32_t kRed = 0xFFFF0000, kBlue = 0xFF0000FF, kGreen = 0xFF00FF00;

std::shared_ptr<UIWindow> shownWindow(uikit::CGRect frame, UIColor colour) {
  auto window = UIWindow::create(frame);
  window->setBackgroundColor(colour);
  window->setVisible(true);
  return window;
}

std::shared_ptr<uikit::UIImage> decoded(const std::string& png) {
  auto image = uikit::decodeImage(png);
  if (!image) ADD_FAILURE() << image.error().localizedDescription();
  return image ? *image : nullptr;
}

class ScreenshotsTests : public DebugLogDeviceRoot {
 protected:
  void TearDown() override {
    DozidiSDK::close();
    uikit::UIApplication::shared().reset();
    DozidiDependencyContainer::reset();
    DebugLogDeviceRoot::TearDown();
  }

  // A red window of 120 x 80 at the bottom, one without width that cannot be drawn, and on top a blue
  // one of 60 x 40 holding a green square.
  void showThreeWindows() {
    bottom = shownWindow({0, 0, 120, 80}, {1, 0, 0, 1});
    empty = shownWindow({0, 0, 0, 30}, {1, 1, 1, 1});
    top = shownWindow({10, 10, 60, 40}, {0, 0, 1, 1});
    square = UIView::create({20, 10, 10, 10});
    square->setBackgroundColor(UIColor{0, 1, 0, 1});
    top->addSubview(square);
  }

  void startSDK(bool attachScreenshot, bool attachViewHierarchy) {
    DozidiSDK::startWithConfigureOptions([&](DozidiOptions& options) {
      options.setDsn(server.dsn("0123456789abcdef0123456789abcdef", "/42"));
      options.debug = true;
      options.attachScreenshot = attachScreenshot;
      options.attachViewHierarchy = attachViewHierarchy;
      options.setIntegrations({"DozidiScreenshotIntegration", "DozidiViewHierarchyIntegration"});
    });
  }

  std::shared_ptr<UIWindow> bottom, empty, top;
  std::shared_ptr<UIView> square;
  testing_support::IngestionServer server;
};

TEST_F(ScreenshotsTests, ViewHierarchyTextIndentsEachLevelInSubviewOrder) {
  auto window = UIWindow::create({0, 0, 50, 50});
  auto a = UIView::create({1, 1, 10, 10});
  auto b = UIView::create({2, 2, 5, 5});
  auto c = UIView::create({3, 3, 5, 5});
  window->addSubview(a);
  a->addSubview(b);
  window->addSubview(c);
  const std::string expected = window->description() + "\n" + "   | " + a->description() + "\n" + "   |    | " +
                               b->description() + "\n" + "   | " + c->description() + "\n";
  EXPECT_EQ(dozidi_recursiveViewHierarchyDescription(*window), expected);
}

TEST_F(ScreenshotsTests, DescendantControllersComeRootFirstThenLastPendingFirst) {
  auto root = std::make_shared<uikit::UIViewController>();
  auto first = std::make_shared<uikit::UIViewController>();
  auto firstChild = std::make_shared<uikit::UIViewController>();
  auto second = std::make_shared<uikit::UIViewController>();
  root->addChildViewController(first);
  root->addChildViewController(second);
  first->addChildViewController(firstChild);
  EXPECT_EQ(dozidi_descendantViewControllers(root),
            (std::vector<std::shared_ptr<uikit::UIViewController>>{root, second, first, firstChild}));
}

TEST_F(ScreenshotsTests, EachDrawableWindowBecomesAPNGOfItsSizeAndTheFilesAreNamedByPosition) {
  showThreeWindows();
  const auto screenshots = DozidiDependencyContainer::sharedInstance()->screenshot()->takeScreenshots();
  ASSERT_EQ(screenshots.size(), 2u) << "the empty window gives no picture";
  auto first = decoded(screenshots[0].bytes());
  auto second = decoded(screenshots[1].bytes());
  ASSERT_TRUE(first && second);
  const auto& red = *first->cgImage();
  const auto& blue = *second->cgImage();
  EXPECT_EQ(std::pair(red.width, red.height), std::pair(120, 80));
  EXPECT_EQ(std::pair(blue.width, blue.height), std::pair(60, 40));
  EXPECT_EQ(red.pixel(60, 40), kRed);
  EXPECT_EQ(blue.pixel(2, 2), kBlue);
  EXPECT_EQ(blue.pixel(25, 15), kGreen);

  testing_support::TemporaryFolder folder("screenshots");
  DozidiDependencyContainer::sharedInstance()->screenshot()->saveScreenShots(folder.path());
  DozidiDependencyContainer::sharedInstance()->viewHierarchy()->saveViewHierarchy(folder.path());
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) files.push_back(entry.path().filename());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"screenshot-2.png", "screenshot.png", "view-hierarchy-0.txt",
                                             "view-hierarchy-1.txt", "view-hierarchy-2.txt"}));
  auto saved = foundation::FileManager::defaultManager().readFile(folder.file("screenshot-2.png"));
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->bytes(), screenshots[1].bytes());
}

// Records the thread the windows are read on.
class RecordingApplication : public DozidiUIApplication {
 public:
  mutable std::atomic<int> readsOffMain{0};
  uikit::UIApplication* sharedApplication() const override {
    if (!dispatch::isMainThread()) readsOffMain++;
    return DozidiUIApplication::sharedApplication();
  }
};

TEST_F(ScreenshotsTests, CaptureFromAnotherThreadRunsOnTheMainThreadUnlessPrevented) {
  showThreeWindows();
  auto application = std::make_shared<RecordingApplication>();
  DozidiDependencyContainer::sharedInstance()->setApplication(application);
  auto container = DozidiDependencyContainer::sharedInstance();
  std::vector<foundation::Data> screenshots;
  std::vector<std::string> texts;
  std::atomic<bool> done = false;
  std::thread sender([&] {
    screenshots = container->screenshot()->appScreenshots();
    texts = container->viewHierarchy()->fetchViewHierarchy();
    done = true;
  });
  ASSERT_TRUE(dispatch::runMainLoopUntil([&] { return done.load(); }, 30.0));
  sender.join();
  EXPECT_EQ(screenshots.size(), 2u);
  EXPECT_EQ(texts.size(), 3u);
  EXPECT_EQ(application->readsOffMain.load(), 0);

  std::thread crashing([&] { texts = container->viewHierarchy()->fetchViewHierarchyPreventMoveToMainThread(true); });
  crashing.join();  // the main thread pumps nothing meanwhile: the fetch must not wait for it
  EXPECT_EQ(texts.size(), 3u);
  EXPECT_EQ(application->readsOffMain.load(), 1);
}

TEST_F(ScreenshotsTests, IntegrationsInstallOrDeclineByTheirOptionsAndSaySo) {
  struct Case {
    bool screenshot, viewHierarchy;
  };
  for (const Case c : {Case{false, false}, Case{true, false}, Case{false, true}, Case{true, true}}) {
    SCOPED_TRACE(testing::Message() << "screenshot " << c.screenshot << ", view hierarchy " << c.viewHierarchy);
    LogCapture log;
    startSDK(c.screenshot, c.viewHierarchy);
    auto hub = DozidiSDK::currentHub();
    EXPECT_EQ(hub->hasIntegration("DozidiScreenshotIntegration"), c.screenshot);
    EXPECT_EQ(hub->hasIntegration("DozidiViewHierarchyIntegration"), c.viewHierarchy);
    auto said = [&](const std::string& text) {
      const auto lines = log.lines();
      return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
    };
    EXPECT_EQ(said("Not going to enable DozidiScreenshotIntegration because attachScreenshot is disabled."), !c.screenshot);
    EXPECT_EQ(said("Integration installed: DozidiScreenshotIntegration"), c.screenshot);
    EXPECT_EQ(said("Not going to enable DozidiViewHierarchyIntegration because attachViewHierarchy is disabled."),
              !c.viewHierarchy);
    EXPECT_EQ(said("Integration installed: DozidiViewHierarchyIntegration"), c.viewHierarchy);
    DozidiSDK::close();
  }
}

TEST_F(ScreenshotsTests, ErrorAndExceptionEventsCarryTheWindowsAfterTheirOwnAttachments) {
  showThreeWindows();
  startSDK(true, true);
  DozidiSDK::configureScope([](DozidiScope& scope) {
    scope.addAttachment(DozidiAttachment::initWithData(foundation::Data(std::string("log")), "log.txt", "text/plain"));
  });
  DozidiSDK::captureError(foundation::Error("test", 1));
  DozidiSDK::captureMessage("no pictures for a message");
  DozidiSDK::captureException(DozidiNSException{"TestException", "reason", {}});
  DozidiSDK::flush(30);

  const auto sent = sentEventAttachments(server);
  ASSERT_EQ(sent.size(), 3u);
  const std::vector<std::string> withWindows{"log.txt", "screenshot.png", "screenshot-2.png", "view-hierarchy-0.txt",
                                             "view-hierarchy-1.txt", "view-hierarchy-2.txt"};
  EXPECT_EQ(fileNames(sent[0]), withWindows);
  EXPECT_EQ(fileNames(sent[1]), std::vector<std::string>{"log.txt"});
  EXPECT_EQ(fileNames(sent[2]), withWindows);
  ASSERT_EQ(sent[0].size(), withWindows.size());
  EXPECT_EQ(sent[0][1].contentType, "image/png");
  EXPECT_EQ(sent[0][3].contentType, "text/plain");
  EXPECT_EQ(sent[0][5].bytes, dozidi_recursiveViewHierarchyDescription(*top));
  auto picture = decoded(sent[0][2].bytes);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->cgImage()->pixel(25, 15), kGreen);
}

TEST_F(ScreenshotsTests, CrashEventsAndUninstalledIntegrationsAddNothing) {
  showThreeWindows();
  startSDK(true, true);
  auto integration = std::dynamic_pointer_cast<DozidiScreenshotIntegration>(
      DozidiSDK::currentHub()->installedIntegrations().front());
  ASSERT_TRUE(integration);
  auto crash = DozidiEvent::initWithError(foundation::Error("test", 2));
  crash->isCrashEvent = true;
  EXPECT_TRUE(integration->processAttachments({}, *crash).empty());

  // While installed, the crash recorder's callbacks write into the folder they are given.
  testing_support::TemporaryFolder folder("crash-attachments");
  dozidi_saveScreenShotsCallback(folder.path().c_str());
  dozidi_saveViewHierarchyCallback(folder.path().c_str());
  EXPECT_TRUE(std::filesystem::exists(folder.file("screenshot-2.png")));
  EXPECT_TRUE(std::filesystem::exists(folder.file("view-hierarchy-2.txt")));

  for (const auto& installed : DozidiSDK::currentHub()->installedIntegrations()) installed->uninstall();
  DozidiSDK::captureError(foundation::Error("test", 3));
  DozidiSDK::flush(30);
  const auto sent = sentEventAttachments(server);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(sent[0].empty());
}

}  // namespace
