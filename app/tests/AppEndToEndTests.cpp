// The app started as fendrel-app --headless starts it, in the test's own process, on a fresh device
// root, and driven as a user would through its real parts: the crash reporter against a loopback
// ingestion server, the remote configuration and the lists from a loopback server, the browser
// stand-in with its extension host and rule compiler, the banner queue and the app's storyboards.
// Built a second time with FENDREL_E2E_WINDOW, the same run shows the app in a desktop window and
// keeps screenshots of it.

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "MessageBanners/MessageBanners.h"
#include "MessageBanners/MessageView.h"
#include "app/AppLaunch.h"
#include "app/core/CrashReporting.h"
#include "app/core/ListElement.h"
#include "app/core/SettingsKeys.h"
#include "app/core/SharedAux.h"
#include "app/core/Singleton.h"
#include "app/screens/AppDelegate.h"
#include "app/screens/FirstViewController.h"
#include "app/screens/GlobalBanner.h"
#include "app/screens/StyledControls.h"
#include "app/screens/WhitelistEntryViewController.h"
#include "app/screens/WhitelistViewController.h"
#include "app/screens/tests/BannerSteps.h"
#include "app/tests/IngestedTransactions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/tests/SentAttachments.h"
#include "platform/browser/ExtensionRegistry.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/EventDriver.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/ImageDecoding.h"
#include "platform/uikit/Renderer.h"
#include "platform/uikit/SystemSheets.h"
#include "platform/uikit/Window.h"
#include "testing/IngestionServer.h"
#include "testing/LoopbackServer.h"
#include "testing/ScopedManualClock.h"
#include "testing/TemporaryFolder.h"

#ifdef FENDREL_E2E_WINDOW
#include <gtk/gtk.h>

#include "platform/uikit/DesktopHost.h"
#include "platform/uikit/DesktopWindow.h"
#include "platform/uikit/FontTextMeasurer.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TextMeasurer.h"
#endif

// A key press for pressKeys: the desktop's key code in the window build, the app's key in both.
#ifdef FENDREL_E2E_WINDOW
#define FENDREL_E2E_KEY(gdk, key) std::pair<guint, uikit::UIKey>{gdk, key}
#else
#define FENDREL_E2E_KEY(gdk, key) std::pair<unsigned, uikit::UIKey>{0, key}
#endif

namespace fendrel {
namespace {

using foundation::Array;
using foundation::Dictionary;
using Case = ListElementState::Case;

constexpr const char* kGroup = "group.com.morvit.Fendrel";
// Lists "a" and "c" download at once; "b" stops at 42 of its 100 bytes until the test lets it go
// on. The first list of a first launch is enabled for the user.
const std::string kListA = R"([{"trigger":{"url-filter":"ads\\.example\\.net"},"action":{"type":"block"}}])";
const std::string kListC = R"([{"trigger":{"url-filter":"cdn\\.example\\.org"},"action":{"type":"block"}}])";
const std::string kListB = [] {
  std::string body = R"([{"trigger":{"url-filter":"track\\.example"},"action":{"type":"block"}}])";
  body.resize(100, ' ');
  return body;
}();
// The rules as the applied rule file has them.
constexpr const char* kRuleA = R"(ads\\.example\\.net)";
constexpr const char* kRuleC = R"(cdn\\.example\\.org)";
constexpr std::size_t kListBFirstBytes = 42;

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class AppEndToEndTests : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef FENDREL_E2E_WINDOW
    // Synthetic X events arrive as core events, which GDK reads only when told to.
    ::setenv("GDK_CORE_DEVICE_EVENTS", "1", 1);
    if (!gtk_init_check(nullptr, nullptr)) {
      if (std::getenv("FENDREL_REQUIRE_DISPLAY")) FAIL() << "no display; run under xvfb-run";
      GTEST_SKIP() << "no display";
    }
    // Text is laid out with the fonts the window draws it with.
    uikit::TextMeasurer::setCurrent(std::make_shared<uikit::FontTextMeasurer>());
#endif
    // Pictures named in the app's storyboards are decoded, as fendrel-app has them.
    uikit::useDecodedArchiveImages();
    ASSERT_NE(server_.port(), 0);
    ASSERT_NE(ingestion_.port(), 0);
    // The app reads these once per process, on first use: this process runs one app.
    foundation::DeviceRoot::setPath(root_.path());
    ::setenv("FENDREL_CONFIG_BASES", server_.url("/").c_str(), 1);
    ::setenv("FENDREL_ANALYTICS_ENDPOINT", server_.url("/analytics").c_str(), 1);
    ::setenv("FENDREL_DSN", ingestion_.dsn("e83d51a07bc94f26a1d5703c98e4b2f1", "/7351842").c_str(), 1);
    // Screens and taps are traced and sent to the ingestion server as well.
    ::setenv("FENDREL_TRACES", "1", 1);
    SharedAux::shared().setCompilationObserver([this](const CompilationOutcome& outcome) {
      std::lock_guard lock(mutex_);
      outcomes_.push_back(outcome);
    });
  }
  void TearDown() override {
    release(releaseConfig_);
    release(releaseListB_);
    SharedAux::shared().setCompilationObserver({});
    DozidiSDK::close();
  }

  /// The configuration host and the list server: the configuration waits for releaseConfig_, and
  /// list "b" sends its first 42 bytes, then waits for releaseListB_.
  void serve(httplib::Server& server) {
    server.Get("/.*", [this](const httplib::Request& request, httplib::Response& response) {
      if (request.path == std::string("/") + Singleton::kConfigPath) {
        wait(releaseConfig_);
        response.set_content(configText(), "application/json");
      } else if (request.path == "/lists/a.json") {
        response.set_content(kListA, "application/json");
      } else if (request.path == "/lists/c.json") {
        response.set_content(kListC, "application/json");
      } else if (request.path == "/lists/b.json") {
        response.set_content_provider(kListB.size(), "application/json",
                                      [this](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                        if (offset == 0) return sink.write(kListB.data(), kListBFirstBytes);
                                        wait(releaseListB_);
                                        return sink.write(kListB.data() + offset, kListB.size() - offset);
                                      });
      } else {
        response.status = 404;
      }
    });
    server.Post("/.*", [](const httplib::Request&, httplib::Response& response) { response.status = 200; });
  }
  std::string configText() const {
    auto list = [this](const std::string& id, double modifiedAt, int num) {
      return Dictionary{{"name", "List " + id}, {"modifiedAt", modifiedAt}, {"iconUrl", "icons/" + id + ".png"},
                        {"objectId", id},       {"attachmentUrl", server_.url("/lists/" + id + ".json")},
                        {"count", 1},          {"desc", "The rules of list " + id},
                        {"num", num}};
    };
    const Dictionary config{
        {"cloudConfig", Dictionary{{"analyticsEnabled", false}}},
        {"lists", Array{list("a", 1600000000.0, 1), list("b", 1700000000.0, 2), list("c", 1650000000.0, 3)}},
        {"apps", Array{Dictionary{{"name", "Other App"}, {"modifiedAt", 1.0}, {"iconUrl", "icons/app.png"},
                                  {"objectId", "app-1"}, {"iTunesId", "42"}}}}};
    return *foundation::JSONSerialization::dataWithJSONObject(foundation::Value(config));
  }
  void wait(bool& released) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return released; });
  }
  void release(bool& released) {
    std::lock_guard lock(mutex_);
    released = true;
    changed_.notify_all();
  }
  std::size_t compilations() {
    std::lock_guard lock(mutex_);
    return outcomes_.size();
  }
  CompilationOutcome lastCompilation() {
    std::lock_guard lock(mutex_);
    return outcomes_.back();
  }

  /// Runs the main queue until `done()` holds, waiting for the network, the browser and the
  /// compiler in real time (the clock stands still meanwhile).
  static bool waitFor(const std::function<bool()>& done) { return dispatch::runMainLoopUntil(done, 60.0); }
  /// Lets animations, pushes and presentations end.
  void settle() {
    clock_->advance(1.0);
    dispatch::drainMainQueue();
    window_->layoutIfNeeded();
  }
  void runBannersUntil(double end) { test_support::runBannersUntil(*clock_, end); }
  static double now() { return dispatch::Clock::current().uptime(); }
  /// The app returns to the foreground, as when the user comes back from the browser's settings.
  static void returnToForeground() {
    auto& app = uikit::UIApplication::shared();
    app.setApplicationState(uikit::UIApplicationState::Background);
    app.setApplicationState(uikit::UIApplicationState::Active);
  }

  /// The operation of each transaction the ingestion server received, by transaction name.
  std::multimap<std::string, std::string> receivedTransactions() const {
    std::multimap<std::string, std::string> received;
    for (const auto& transaction : test_support::ingestedTransactions(ingestion_.requests())) {
      received.emplace(transaction["transaction"].asString().value_or(""),
                       transaction["contexts"]["trace"]["op"].asString().value_or(""));
    }
    return received;
  }
  std::shared_ptr<ListCell> listCell(long row) {
    return std::dynamic_pointer_cast<ListCell>(table_->cellForRowAtIndexPath({FirstViewController::kListsSection, row}));
  }
  std::shared_ptr<ListElement> list(const std::string& name) {
    for (const auto& element : *Singleton::shared().lists())
      if (element->name() == name) return element;
    return nullptr;
  }
  std::string appliedRules() const {
    return readText(root_.path() + "/browser/applied/" + SharedAux::kExtensionIdentifier + ".json");
  }
  std::size_t reloads() const {
    const std::string log = readText(root_.path() + "/browser/reload.log");
    return static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n'));
  }
  /// Opens the whitelist from its row on the main screen, with a tap.
  std::shared_ptr<WhitelistViewController> openWhitelist() {
    auto row = table_->cellForRowAtIndexPath({FirstViewController::kWhitelistSection, 0});
    if (!row) return nullptr;
    uikit::UIEventDriver::shared().tap(*row);
    settle();
    return std::dynamic_pointer_cast<WhitelistViewController>(navigation_->topViewController());
  }
  std::shared_ptr<WhitelistEntryViewController> entryScreen() const {
    return std::dynamic_pointer_cast<WhitelistEntryViewController>(navigation_->topViewController());
  }
  /// Back to the main screen, whose appearance compiles a changed whitelist; waits for that.
  void backToMainScreenAndCompile() {
    const std::size_t before = compilations();
    navigation_->popViewControllerAnimated(true);
    settle();
    ASSERT_EQ(navigation_->topViewController(), screen_);
    ASSERT_TRUE(waitFor([&] { return compilations() > before; }));
    EXPECT_TRUE(lastCompilation().succeeded());
    EXPECT_TRUE(lastCompilation().force);
    EXPECT_EQ(Singleton::shared().whitelistCompiledDate().timeIntervalSince1970(),
              Singleton::shared().whitelistDate().timeIntervalSince1970());
  }

  /// Where `view` is on the screen, in points.
  static uikit::CGRect screenFrame(const uikit::UIView& view) {
    const auto& bounds = view.bounds();
    auto origin = view.convertPointToView(bounds.origin, nullptr);
    if (auto* window = view.window()) origin = {origin.x + window->frame().origin.x, origin.y + window->frame().origin.y};
    return {origin, bounds.size};
  }
  /// The part of `image` under `view` (the window shows one pixel per point).
  static std::shared_ptr<const uikit::CGImage> crop(const std::shared_ptr<const uikit::CGImage>& image,
                                                    const uikit::UIView& view) {
    return uikit::CGImageCreateWithImageInRect(image, screenFrame(view));
  }
  /// Whether two premultiplied pixels are within `tolerance` in every channel, alpha included.
  static bool nearColour(std::uint32_t pixel, std::uint32_t colour, int tolerance) {
    for (int shift : {0, 8, 16, 24})
      if (std::abs(static_cast<int>(pixel >> shift & 255) - static_cast<int>(colour >> shift & 255)) > tolerance) return false;
    return true;
  }
  /// Share of the pixels of `image` within `tolerance` of `rgb` in every channel.
  static double shareOfColour(const uikit::CGImage& image, std::uint32_t rgb, int tolerance) {
    std::size_t near = 0;
    for (std::uint32_t pixel : image.pixels) {
      bool close = true;
      for (int shift : {0, 8, 16})
        close = close && std::abs(static_cast<int>(pixel >> shift & 255) - static_cast<int>(rgb >> shift & 255)) <= tolerance;
      near += close;
    }
    return static_cast<double>(near) / static_cast<double>(image.pixels.size());
  }

#ifdef FENDREL_E2E_WINDOW
  void openWindow() {
    uikit::DesktopWindow::Options options;
    options.title = appName();
    options.size = uikit::UIScreen::main().bounds().size;
    auto opened = uikit::DesktopWindow::open(std::make_shared<uikit::ApplicationDesktopHost>(), options);
    ASSERT_TRUE(opened.ok()) << opened.error().localizedDescription();
    desktop_ = std::move(*opened);
  }
  /// What the desktop window shows now, also written as e2e-<name>.png into the build folder.
  std::shared_ptr<const uikit::CGImage> shot(const std::string& name) {
    std::size_t frames = desktop_->framesDrawn();
    desktop_->setNeedsDisplay();
    EXPECT_TRUE(desktop_->runUntil([&] { return desktop_->framesDrawn() > frames; }, 10));
    gdk_display_sync(gdk_display_get_default());
    // A turning spinner keeps frames coming, so events may never run out: a bounded number will do.
    for (int i = 0; i < 100 && gtk_events_pending(); ++i) gtk_main_iteration_do(FALSE);
    auto image = desktop_->screenshot();
    EXPECT_TRUE(image.ok());
    if (!image.ok()) return nullptr;
    std::filesystem::create_directories(FENDREL_SCREENSHOT_DIR);
    EXPECT_TRUE(uikit::writePNG(**image, std::string(FENDREL_SCREENSHOT_DIR) + "/e2e-" + name + ".png").ok());
    return (*image)->cgImage();
  }
  /// A click of the mouse on the middle of `view` in the desktop window; runs until `delivered()`.
  void tapOnScreen(const uikit::UIView& view, const std::function<bool()>& delivered) {
    const auto frame = screenFrame(view);
    const int x = static_cast<int>(frame.origin.x + frame.size.width / 2);
    const int y = static_cast<int>(frame.origin.y + frame.size.height / 2);
    GdkWindow* target = gtk_widget_get_window(gtk_bin_get_child(GTK_BIN(desktop_->nativeWindow())));
    gdk_test_simulate_button(target, x, y, 1, GdkModifierType(0), GDK_BUTTON_PRESS);
    gdk_test_simulate_button(target, x, y, 1, GdkModifierType(GDK_BUTTON1_MASK), GDK_BUTTON_RELEASE);
    EXPECT_TRUE(desktop_->runUntil(delivered, 10));
  }
  /// Keys pressed on the desktop window's keyboard, one by one; runs until `delivered()`.
  void pressKeys(const std::vector<std::pair<guint, uikit::UIKey>>& keys, const std::function<bool()>& delivered) {
    GdkWindow* target = gtk_widget_get_window(gtk_bin_get_child(GTK_BIN(desktop_->nativeWindow())));
    for (const auto& [keyval, key] : keys) gdk_test_simulate_key(target, -1, -1, keyval, GdkModifierType(0), GDK_KEY_PRESS);
    EXPECT_TRUE(desktop_->runUntil(delivered, 10));
  }
  /// `text` typed on the desktop window's keyboard (plain ASCII); runs until `delivered()`.
  void typeKeys(const std::string& text, const std::function<bool()>& delivered) {
    std::vector<std::pair<guint, uikit::UIKey>> keys;
    for (char c : text) keys.push_back({gdk_unicode_to_keyval(static_cast<guint32>(c)), uikit::UIKey::Tab});
    pressKeys(keys, delivered);
  }
  std::unique_ptr<uikit::DesktopWindow> desktop_;
#else
  /// A tap on the middle of `view` where it is on the screen; runs until `delivered()`.
  void tapOnScreen(const uikit::UIView& view, const std::function<bool()>& delivered) {
    uikit::UIEventDriver::shared().tap(view);
    EXPECT_TRUE(waitFor(delivered));
  }
  void openWindow() {}
  std::shared_ptr<const uikit::CGImage> shot(const std::string&) { return nullptr; }
  void pressKeys(const std::vector<std::pair<unsigned, uikit::UIKey>>& keys, const std::function<bool()>& delivered) {
    for (const auto& pressed : keys) uikit::UIEventDriver::shared().pressKey(pressed.second);
    EXPECT_TRUE(waitFor(delivered));
  }
  void typeKeys(const std::string& text, const std::function<bool()>& delivered) {
    uikit::UIEventDriver::shared().typeText(text);
    EXPECT_TRUE(waitFor(delivered));
  }
#endif
  /// The button titled `title` in `view`'s tree.
  static std::shared_ptr<uikit::UIButton> findButton(const std::shared_ptr<uikit::UIView>& view, const std::string& title) {
    if (auto button = std::dynamic_pointer_cast<uikit::UIButton>(view);
        button && button->titleForState(uikit::UIControlStateNormal) == title)
      return button;
    for (const auto& sub : view->subviews())
      if (auto found = findButton(sub, title)) return found;
    return nullptr;
  }
  /// Whether a label of `view`'s tree shows `text`.
  static bool showsText(const std::shared_ptr<uikit::UIView>& view, const std::string& text) {
    if (auto label = std::dynamic_pointer_cast<uikit::UILabel>(view); label && label->text() == text) return true;
    for (const auto& sub : view->subviews())
      if (showsText(sub, text)) return true;
    return false;
  }

  /// An error captured now, with the reporter started again as by an app that asks for
  /// screenshots and view hierarchies, carries a picture and a view tree of each of the two
  /// windows shown (the screen and the banner's window).
  void expectAnErrorCarriesBothWindows() {
    // The app as one that asks for screenshots and view hierarchies: the reporter again, with them.
    DozidiSDK::startWithConfigureOptions([](DozidiOptions& options) {
      configureReporterOptions(options, std::getenv("FENDREL_DSN"));
      options.attachScreenshot = true;
      options.attachViewHierarchy = true;
    });
    const auto windows = uikit::UIApplication::shared().windows();
    ASSERT_EQ(windows.size(), 2u);
    ASSERT_EQ(windows[0], window_);

    DozidiSDK::captureError(foundation::Error("com.morvit.Fendrel", 7));
    std::vector<std::vector<SentAttachment>> sent;
    ASSERT_TRUE(waitFor([&] { return !(sent = sentEventAttachments(ingestion_)).empty(); }));
    ASSERT_EQ(fileNames(sent[0]), (std::vector<std::string>{"screenshot.png", "screenshot-2.png", "view-hierarchy-0.txt",
                                                            "view-hierarchy-1.txt"}));
    // The main screen and the banner's window, each at its size: the screen's red navigation bar
    // above white rows; the warning's yellow card at the top of the banner's window, which is clear
    // below it.
    struct Sample {
      int x, y;
      std::uint32_t colour;
    };
    const std::vector<Sample> samples[2] = {{{300, 60, 0xFFFF3824}, {300, 430, 0xFFFFFFFF}},
                                            {{200, 90, 0xFFF6C52C}, {200, 400, 0x00000000}}};
    for (std::size_t i = 0; i < 2; ++i) {
      SCOPED_TRACE(sent[0][i].filename);
      auto image = uikit::decodeImage(sent[0][i].bytes);
      ASSERT_TRUE(image.ok());
      const auto& pixels = *(*image)->cgImage();
      const auto size = windows[i]->frame().size;
      ASSERT_EQ(pixels.width, static_cast<int>(size.width));
      ASSERT_EQ(pixels.height, static_cast<int>(size.height));
      for (const auto& sample : samples[i]) {
        EXPECT_TRUE(nearColour(pixels.pixel(sample.x, sample.y), sample.colour, 24))
            << std::hex << pixels.pixel(sample.x, sample.y) << " at " << std::dec << sample.x << "," << sample.y;
      }
      EXPECT_EQ(sent[0][i + 2].bytes.rfind(windows[i]->description() + "\n", 0), 0u) << "the window first, at depth 0";
    }
  }

  testing_support::ScopedManualClock clock_;
  testing_support::TemporaryFolder root_{"fendrel-e2e"};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool releaseConfig_ = false;
  bool releaseListB_ = false;
  std::vector<CompilationOutcome> outcomes_;
  testing_support::IngestionServer ingestion_;
  testing_support::LoopbackServer server_{[this](httplib::Server& server) { serve(server); }};

  AppDelegate delegate_;
  std::shared_ptr<uikit::UIWindow> window_;
  std::shared_ptr<uikit::UINavigationController> navigation_;
  std::shared_ptr<FirstViewController> screen_;
  std::shared_ptr<uikit::UITableView> table_;
};

TEST_F(AppEndToEndTests, FromLaunchThroughTheListsTheWarningAndTheWhitelist) {
  // Launch: the crash reporter runs before the launch is counted, and this is the first launch.
  ASSERT_TRUE(launchApp(delegate_).ok());
  EXPECT_TRUE(DozidiSDK::isEnabled());
  EXPECT_EQ(Singleton::shared().userDefs()->integer(settings::kLaunchCountKey), 1);
  window_ = delegate_.window;
  ASSERT_TRUE(window_ && window_->isKeyWindow());
  navigation_ = std::dynamic_pointer_cast<uikit::UINavigationController>(window_->rootViewController());
  ASSERT_TRUE(navigation_);
  screen_ = std::dynamic_pointer_cast<FirstViewController>(navigation_->topViewController());
  ASSERT_TRUE(screen_);
  table_ = screen_->tableView.lock();
  ASSERT_TRUE(table_);
  openWindow();
  if (HasFatalFailure()) return;

  // The first appearance ever shows the tutorial; the user closes it.
  settle();
  auto tutorial = std::dynamic_pointer_cast<TutorialViewController>(navigation_->presentedViewController());
  ASSERT_TRUE(tutorial);
  EXPECT_EQ(tutorial->launchContext, TutorialViewController::LaunchContext::onLaunch);
  shot("tutorial");
  tutorial->closeTap();
  settle();
  ASSERT_FALSE(navigation_->presentedViewController());

  // The main screen waits for the configuration: the table is hidden and the spinner turns.
  EXPECT_EQ(table_->alpha(), 0.0);
  EXPECT_TRUE(screen_->spinner.lock()->isAnimating());
  EXPECT_EQ(table_->numberOfRowsInSection(FirstViewController::kListsSection), 0);

  // The configuration arrives: the table fades in with the lists' rows, and every list starts
  // downloading. "a" and "c" are stored at once, and "a", the first, is enabled and compiled as
  // on every first launch; "b" stops at 42 %.
  release(releaseConfig_);
  ASSERT_TRUE(waitFor([&] { return screen_->gotData && table_->numberOfRowsInSection(0) == 3; }));
  ASSERT_TRUE(waitFor([&] {
    auto a = list("List a"), b = list("List b"), c = list("List c");
    return a && b && c && a->state().kind() == Case::DownloadedEnabled && c->state().kind() == Case::DownloadedDisabled &&
           b->state().kind() == Case::Downloading && b->state().percent() > 0.4f && compilations() == 1;
  }));
  EXPECT_TRUE(lastCompilation().succeeded());
  EXPECT_NE(appliedRules().find(kRuleA), std::string::npos) << appliedRules();
  settle();
  EXPECT_FALSE(screen_->spinner.lock()->isAnimating());
  EXPECT_EQ(table_->alpha(), 1.0);
  auto cellA = listCell(0);
  auto cellB = listCell(1);
  auto cellC = listCell(2);
  ASSERT_TRUE(cellA && cellB && cellC);
  EXPECT_EQ(cellA->titleLabel.lock()->text(), "List a");
  EXPECT_EQ(cellB->titleLabel.lock()->text(), "List b");
  EXPECT_EQ(cellC->titleLabel.lock()->text(), "List c");
  EXPECT_TRUE(cellA->enabledSwitch.lock()->isOn());

  // The list that is not downloaded shows its download button, with the ring at 42 %.
  auto button = cellB->downloadButton.lock();
  EXPECT_EQ(button->alpha(), 1.0);
  EXPECT_EQ(cellB->enabledSwitch.lock()->alpha(), 0.0);
  ASSERT_TRUE(button->activityState().progressBarStyle.percentageValue());
  EXPECT_FLOAT_EQ(*button->activityState().progressBarStyle.percentageValue(), 0.42f);
  EXPECT_EQ(cellB->titleLabel.lock()->accessibilityLabel, "List b (downloading 42%)");
  if (auto image = shot("main-screen")) {
    auto cell = crop(image, *cellB);
    ASSERT_TRUE(cell);
    EXPECT_TRUE(uikit::writePNG(*uikit::UIImage::createWithCGImage(std::const_pointer_cast<uikit::CGImage>(cell), 1),
                                std::string(FENDREL_SCREENSHOT_DIR) + "/e2e-list-cell-downloading.png")
                    .ok());
    // The window shows what the renderer draws of the screen at this moment.
    auto drawn = uikit::Renderer::renderView(*window_, 1);
    ASSERT_TRUE(drawn.ok());
    const auto& expected = *(*drawn)->cgImage();
    ASSERT_EQ(image->width, expected.width);
    ASSERT_EQ(image->height, expected.height);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < image->pixels.size(); ++i)
      for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>(image->pixels[i] >> shift & 255) -
                     static_cast<int>(expected.pixels[i] >> shift & 255)) > 8) {
          ++differing;
          break;
        }
    EXPECT_LT(static_cast<double>(differing) / static_cast<double>(image->pixels.size()), 0.005);
  }

  // A tap on the switch of the downloaded list "c" enables it once, and the browser compiles its
  // rules with those of "a".
  auto toggle = cellC->enabledSwitch.lock();
  ASSERT_EQ(toggle->alpha(), 1.0);
  ASSERT_FALSE(toggle->isOn());
  tapOnScreen(*toggle, [&] { return toggle->isOn(); });
  EXPECT_EQ(list("List c")->state().kind(), Case::DownloadedEnabled);
  EXPECT_EQ(Singleton::shared().extConfigIDs(), (std::set<std::string>{"a", "c"}));
  ASSERT_TRUE(waitFor([&] { return compilations() == 2; }));
  EXPECT_TRUE(lastCompilation().succeeded());
  EXPECT_FALSE(lastCompilation().force);
  settle();
  EXPECT_EQ(compilations(), 2u);
  EXPECT_EQ(reloads(), 2u);
  EXPECT_NE(appliedRules().find(kRuleA), std::string::npos) << appliedRules();
  EXPECT_NE(appliedRules().find(kRuleC), std::string::npos);
  EXPECT_FALSE(std::filesystem::is_empty(root_.path() + "/browser/filters"));

  // The user switched the extension off in the browser: back in the app, one warning shows for
  // five seconds, and nothing follows it.
  auto registry = browser::ExtensionRegistry::forDevice();
  ASSERT_TRUE(registry.ok());
  ASSERT_TRUE(registry->setEnabled(SharedAux::kExtensionIdentifier, false).ok());
  auto banners = MessageBanners::MessageBanners::sharedInstance();
  returnToForeground();
  ASSERT_TRUE(waitFor([&] { return banners->current() != nullptr; }));
  const double shown = now();
  runBannersUntil(shown + 1.0);
  auto card = banners->current<MessageBanners::MessageView>();
  ASSERT_TRUE(card);
  EXPECT_EQ(card->titleLabel()->text(), "😰 Not activated...");
  EXPECT_EQ(card->button()->titleForState(uikit::UIControlStateNormal), "Tutorial");
  expectAnErrorCarriesBothWindows();
  if (auto image = shot("warning-banner")) {
    // The card's band is drawn in the warning's colour.
    auto band = crop(image, *card);
    ASSERT_TRUE(band);
    EXPECT_GT(shareOfColour(*band, 0xF6C52C, 6), 0.5);
  }
  runBannersUntil(shown + 4.9);
  EXPECT_EQ(banners->current<MessageBanners::MessageView>(), card);
  runBannersUntil(shown + 7.0);
  EXPECT_FALSE(banners->current());
  runBannersUntil(shown + 10.0);
  EXPECT_FALSE(banners->current());

  // The next return warns again; a tap on the banner's button presents the tutorial and hides it.
  returnToForeground();
  ASSERT_TRUE(waitFor([&] { return banners->current() != nullptr; }));
  runBannersUntil(now() + 1.0);
  card = banners->current<MessageBanners::MessageView>();
  ASSERT_TRUE(card);
  tapOnScreen(*card->button(), [&] { return navigation_->presentedViewController() != nullptr; });
  runBannersUntil(now() + 1.0);
  tutorial = std::dynamic_pointer_cast<TutorialViewController>(navigation_->presentedViewController());
  ASSERT_TRUE(tutorial);
  EXPECT_EQ(tutorial->launchContext, TutorialViewController::LaunchContext::transientButton);
  EXPECT_FALSE(banners->current());
  tutorial->closeTap();
  settle();

  // The whitelist: each change is stored with a new date, and the main screen, when it comes
  // back, has the browser compile the rules with it.
  auto whitelistDate = [] { return Singleton::shared().whitelistDate().timeIntervalSince1970(); };
  auto whitelist = openWhitelist();
  ASSERT_TRUE(whitelist);
  whitelist->editBarButton->tap();
  settle();
  auto entry = entryScreen();
  ASSERT_TRUE(entry);
  auto field = entry->websiteTextField.lock();
  ASSERT_TRUE(field);
  uikit::UIEventDriver::shared().tap(*field);
  uikit::UIEventDriver::shared().typeText("Example.com");
  EXPECT_EQ(entry->websiteTextField.lock()->text(), "example.com");
  double before = whitelistDate();
  entry->saveBarButton->tap();
  settle();
  EXPECT_EQ(navigation_->topViewController(), whitelist);
  EXPECT_EQ(Singleton::shared().whitelist(), (std::vector<WhitelistElement>{{"example.com", true, 0}}));
  EXPECT_GT(whitelistDate(), before);
  shot("whitelist");
  backToMainScreenAndCompile();
  EXPECT_NE(appliedRules().find("example.com"), std::string::npos) << appliedRules();
  EXPECT_NE(appliedRules().find(kRuleA), std::string::npos);

  // Edit: switched off, the site moves to the disabled section and leaves the compiled rules.
  whitelist = openWhitelist();
  ASSERT_TRUE(whitelist);
  auto rules = whitelist->tableView.lock();
  auto row = rules->cellForRowAtIndexPath({0, 0});
  ASSERT_TRUE(row);
  uikit::UIEventDriver::shared().tap(*row);
  settle();
  entry = entryScreen();
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->mode, WhitelistEntryViewController::Mode::Edit);
  auto enabled = entry->enabledSwitch.lock();
  ASSERT_TRUE(enabled);
  uikit::UIEventDriver::shared().tap(*enabled);
  EXPECT_FALSE(entry->enabledSwitch.lock()->isOn());
  before = whitelistDate();
  entry->saveBarButton->tap();
  settle();
  EXPECT_EQ(Singleton::shared().whitelist(), (std::vector<WhitelistElement>{{"example.com", false, 0}}));
  EXPECT_GT(whitelistDate(), before);
  EXPECT_EQ(rules->numberOfRowsInSection(0), 0);
  EXPECT_EQ(rules->numberOfRowsInSection(1), 1);
  backToMainScreenAndCompile();
  EXPECT_EQ(appliedRules().find("example.com"), std::string::npos) << appliedRules();

  // Delete from the disabled section.
  whitelist = openWhitelist();
  ASSERT_TRUE(whitelist);
  rules = whitelist->tableView.lock();
  before = whitelistDate();
  whitelist->commitEditingStyle(*rules, WhitelistViewController::EditingStyle::Delete, {1, 0});
  EXPECT_TRUE(Singleton::shared().whitelist().empty());
  EXPECT_GT(whitelistDate(), before);
  EXPECT_EQ(rules->numberOfRowsInSection(1), 0);
  backToMainScreenAndCompile();
  EXPECT_EQ(appliedRules().find("example.com"), std::string::npos);
  EXPECT_NE(appliedRules().find(kRuleA), std::string::npos);

  // The menu: drawn as a sheet over the dimmed screen; a click on an action runs it and closes
  // the sheet.
  std::vector<std::string> opened;
  uikit::UIApplication::shared().setURLOpener(
      [&](const std::string& url, const Dictionary&, std::function<void(bool)> done) {
        opened.push_back(url);
        if (done) done(true);
      });
  auto bar = navigation_->navigationBar();
  auto moreButton = bar->buttonForItem(*screen_->moreBarButton.lock());
  ASSERT_TRUE(moreButton);
  auto presented = [&] { return navigation_->presentedViewController(); };
  // A dismissal runs on the clock, which this check moves on until the sheet is gone.
  auto dismissed = [&] {
    clock_->advance(0.05);
    dispatch::drainMainQueue();
    return !presented();
  };
  tapOnScreen(*moreButton, [&] { return presented() != nullptr; });
  settle();
  auto menu = std::dynamic_pointer_cast<uikit::UIAlertController>(presented());
  ASSERT_TRUE(menu);
  auto rate = findButton(menu->view(), "Rate us 🌟🌟🌟🌟🌟");
  ASSERT_TRUE(rate && findButton(menu->view(), "Cancel"));
  if (auto image = shot("menu")) {
    // The screen above the sheet is dimmed (its white rows grey), the sheet's buttons are on
    // their light card.
    auto dimmed = crop(image, *table_->cellForRowAtIndexPath({FirstViewController::kWhitelistSection, 0}));
    ASSERT_TRUE(dimmed);
    EXPECT_GT(shareOfColour(*dimmed, 0x999999, 8), 0.5);
    EXPECT_GT(shareOfColour(*crop(image, *rate), 0xFAFAFA, 12), 0.5);
  }
  tapOnScreen(*rate, [&] { return !opened.empty(); });
  settle();
  EXPECT_FALSE(presented());

  // Escape closes the menu with its cancel action: nothing else runs.
  tapOnScreen(*moreButton, [&] { return presented() != nullptr; });
  settle();
  ASSERT_TRUE(std::dynamic_pointer_cast<uikit::UIAlertController>(presented()));
  pressKeys({FENDREL_E2E_KEY(GDK_KEY_Escape, uikit::UIKey::Escape)}, dismissed);
  EXPECT_FALSE(presented());
  EXPECT_EQ(opened.size(), 1u);

  // The promoted app's row opens the store sheet with the app's name; Done closes it.
  auto appRow = table_->cellForRowAtIndexPath({FirstViewController::kAppsSection, 0});
  ASSERT_TRUE(appRow);
  tapOnScreen(*appRow, [&] { return presented() != nullptr; });
  settle();
  auto store = std::dynamic_pointer_cast<uikit::SKStoreProductViewController>(presented());
  ASSERT_TRUE(store);
  EXPECT_TRUE(showsText(store->view(), "Other App"));
  shot("store-sheet");
  auto done = findButton(store->view(), "Done");
  ASSERT_TRUE(done);
  tapOnScreen(*done, dismissed);
  settle();
  EXPECT_FALSE(presented());

  // A whitelist entry typed on the keyboard, a slip mended with backspace: the field shows the
  // text, its caret and its placeholder, and what is stored is exactly what was typed.
  whitelist = openWhitelist();
  ASSERT_TRUE(whitelist);
  whitelist->editBarButton->tap();
  settle();
  entry = entryScreen();
  ASSERT_TRUE(entry);
  field = entry->websiteTextField.lock();
  ASSERT_TRUE(field);
  tapOnScreen(*field, [&] { return field->isEditing(); });
  shot("whitelist-empty-field");
  typeKeys("example.orgg", [&] { return field->text() == "example.orgg"; });
  pressKeys({FENDREL_E2E_KEY(GDK_KEY_BackSpace, uikit::UIKey::Backspace)}, [&] { return field->text() == "example.org"; });
  shot("whitelist-typing");
  pressKeys({FENDREL_E2E_KEY(GDK_KEY_Return, uikit::UIKey::Return)}, [&] { return !field->isEditing(); });
  auto save = navigation_->navigationBar()->buttonForItem(*entry->saveBarButton);
  ASSERT_TRUE(save);
  // Settings that cannot be written (a folder in place of their lock file fails every write, even
  // for root): the editor stays with the typed entry and says why, and nothing is stored.
  const std::string settingsLock = root_.path() + "/containers/" + kGroup + "/Library/Preferences/" + kGroup + ".plist.lock";
  std::filesystem::remove(settingsLock);
  std::filesystem::create_directory(settingsLock);
  banners->hideAll();
  uikit::UIEventDriver::shared().tap(*save);
  ASSERT_TRUE(waitFor([&] { return banners->current() != nullptr; }));
  runBannersUntil(now() + 1.0);
  EXPECT_EQ(navigation_->topViewController(), entry);
  EXPECT_EQ(field->text(), "example.org");
  auto errorCard = banners->current<MessageBanners::MessageView>();
  ASSERT_TRUE(errorCard);
  EXPECT_EQ(errorCard->titleLabel()->text(), "Cannot save the rule");
  EXPECT_EQ(errorCard->bodyLabel()->text().rfind("the settings cannot be stored: ", 0), 0u)
      << errorCard->bodyLabel()->text();
  EXPECT_TRUE(Singleton::shared().whitelist().empty());
  shot("whitelist-save-failed");
  std::filesystem::remove(settingsLock);
  banners->hideAll();
  settle();
  tapOnScreen(*save, [&] { return navigation_->topViewController() == whitelist; });
  settle();
  EXPECT_EQ(Singleton::shared().whitelist(), (std::vector<WhitelistElement>{{"example.org", true, 0}}));
  backToMainScreenAndCompile();

  // The screen still answers: a click on the switch of "c" turns it off.
  toggle = listCell(2)->enabledSwitch.lock();
  ASSERT_TRUE(toggle && toggle->isOn());
  tapOnScreen(*toggle, [&] { return !toggle->isOn(); });
  EXPECT_FALSE(toggle->isOn());
  shot("main-screen-after");

  // Traces: the main and whitelist screens each sent a "ui.load" transaction, and the taps on
  // the switches "ui.action" ones, once the last tap's idle time has passed.
  auto sent = [&](const std::string& name, const std::string& operation) {
    auto received = receivedTransactions();
    auto [first, last] = received.equal_range(name);
    return std::any_of(first, last, [&](const auto& entry) { return entry.second == operation; });
  };
  auto allSent = [&] {
    // The main screen is the navigation controller's, which loads the list screen inside it.
    return sent("Fendrel.NavigationController", "ui.load") && sent("Fendrel.WhitelistViewController", "ui.load") &&
           sent("Fendrel.ListCell.switchFlipped", "ui.action");
  };
  // The idle timers of the transactions run on the test's clock, while the work a tap starts (the
  // compile's file reads and writes, traced as the tap's children) ends after some real time:
  // the clock moves on a second at a time until everything has arrived.
  bool arrived = false;
  for (int i = 0; i < 60 && !arrived; ++i) {
    settle();
    arrived = dispatch::runMainLoopUntil(allSent, 1.0);
  }
  EXPECT_TRUE(arrived) << ingestion_.requests().size() << " requests; transactions: " << [&] {
    std::string names;
    for (const auto& [name, operation] : receivedTransactions()) names += name + " (" + operation + ") ";
    return names;
  }();
}

}  // namespace
}  // namespace fendrel
