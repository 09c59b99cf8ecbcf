#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string_view>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "platform/dispatch/CallbackGuard.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Control.h"
#include "platform/uikit/DesktopWindow.h"
#include "platform/uikit/Event.h"
#include "platform/uikit/FontTextMeasurer.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/Renderer.h"
#include "platform/uikit/Window.h"

// The desktop window under a real (virtual) X display: the screen it shows must match the
// renderer's image of the same tree, and mouse and keys must reach the tree.

namespace uikit {
namespace {

const UIColor kOn = UIColor(52 / 255.0, 199 / 255.0, 89 / 255.0);
const UIColor kOff = UIColor::white(0.9);

std::shared_ptr<UILabel> label(const std::string& text, UIFont font, UIColor color) {
  auto l = std::make_shared<UILabel>();
  l->setText(text);
  l->setFont(font);
  l->textColor = color;
  l->sizeToFit();
  return l;
}

/// A switch drawn from plain views: a pill with a round knob that slides when toggled.
struct Switch {
  std::shared_ptr<UIControl> track = std::make_shared<UIControl>();
  std::shared_ptr<UIView> knob = UIView::create({2, 2, 27, 27});
  bool on = false;

  explicit Switch(bool initially) : on(initially) {
    track->setFrame({253, 6.5, 51, 31});
    track->layer()->setCornerRadius(15.5);
    knob->setBackgroundColor(UIColor::whiteColor());
    knob->layer()->setCornerRadius(13.5);
    knob->layer()->setShadowOpacity(0.3);
    knob->layer()->setShadowRadius(2);
    knob->layer()->setShadowOffset({0, 2});
    knob->setUserInteractionEnabled(false);
    track->addSubview(knob);
    show();
  }
  void show() {
    track->setBackgroundColor(on ? kOn : kOff);
    knob->setFrame({on ? 22.0 : 2.0, 2, 27, 27});
  }
};

/// The small settings screen: a navigation bar, three rows with switches and a button.
struct Screen {
  std::shared_ptr<UIWindow> window = UIWindow::create({0, 0, 320, 260});
  std::vector<std::shared_ptr<Switch>> switches;
  std::shared_ptr<UIControl> button = std::make_shared<UIControl>();

  Screen() {
    window->setBackgroundColor(UIColor::white(0.94));
    auto bar = UIView::create({0, 0, 320, 44});
    bar->setBackgroundColor(UIColor::white(0.98));
    bar->addSubview([] {
      auto line = UIView::create({0, 43.5, 320, 0.5});
      line->setBackgroundColor(UIColor::white(0.7));
      return line;
    }());
    auto title = label("Settings", UIFont::boldSystemFont(17), UIColor::blackColor());
    title->setCenter({160, 22});
    bar->addSubview(title);
    window->addSubview(bar);
    const char* names[] = {"Block ads", "Block trackers", "Block fonts"};
    for (int i = 0; i < 3; ++i) {
      auto row = UIView::create({0, 64.0 + 44 * i, 320, 44});
      row->setBackgroundColor(UIColor::whiteColor());
      auto text = label(names[i], UIFont::systemFont(17), UIColor::blackColor());
      text->setFrame({16, (44 - text->bounds().size.height) / 2, text->bounds().size.width, text->bounds().size.height});
      row->addSubview(text);
      auto s = std::make_shared<Switch>(i != 1);
      row->addSubview(s->track);
      if (i < 2) {
        auto line = UIView::create({16, 43.5, 304, 0.5});
        line->setBackgroundColor(UIColor::white(0.8));
        row->addSubview(line);
      }
      switches.push_back(s);
      window->addSubview(row);
    }
    button->setFrame({16, 206, 288, 40});
    button->setBackgroundColor(UIColor::systemBlueColor());
    button->layer()->setCornerRadius(10);
    auto done = label("Done", UIFont::boldSystemFont(17), UIColor::whiteColor());
    done->setCenter({144, 20});
    done->setUserInteractionEnabled(false);
    button->addSubview(done);
    window->addSubview(button);
  }
};

struct Owner {};

/// The touch an action was sent with, as "<phase> on <view>" ("none" outside touch delivery).
std::string touchSeen(const UIView& control) {
  UIEvent* event = UIEventDelivery::current();
  if (!event || event->allTouches().size() != 1) return "none";
  const auto& touch = event->allTouches().front();
  std::string phase = touch->phase() == UITouchPhase::Ended ? "ended" : std::to_string(static_cast<int>(touch->phase()));
  return phase + (touch->view().get() == &control ? " on the control" : " elsewhere");
}

class DesktopWindowTests : public ::testing::Test {
 protected:
  void SetUp() override {
    // Synthetic X events arrive as core events, which GDK reads only when told to.
    setenv("GDK_CORE_DEVICE_EVENTS", "1", 1);
    if (!gtk_init_check(nullptr, nullptr)) {
      if (std::getenv("FENDREL_REQUIRE_DISPLAY")) FAIL() << "no display; run under xvfb-run";
      GTEST_SKIP() << "no display";
    }
    TextMeasurer::setCurrent(std::make_shared<FontTextMeasurer>());
    std::filesystem::create_directories(FENDREL_TEST_OUTPUT_DIR);
  }
  void TearDown() override { TextMeasurer::setCurrent(nullptr); }

  static std::string output(const char* name) { return std::string(FENDREL_TEST_OUTPUT_DIR) + "/" + name; }

  /// Share of pixels whose colour differs by more than `tolerance` in any channel.
  static double differingShare(const CGImage& a, const CGImage& b, int tolerance) {
    std::size_t differing = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i)
      for (int shift : {0, 8, 16}) {
        int ca = a.pixels[i] >> shift & 255, cb = b.pixels[i] >> shift & 255;
        if (std::abs(ca - cb) > tolerance) { ++differing; break; }
      }
    return static_cast<double>(differing) / static_cast<double>(a.pixels.size());
  }

  /// Runs the window until the desktop shows at least one more frame and has no drawing pending.
  void settle(DesktopWindow& window) {
    std::size_t frames = window.framesDrawn();
    ASSERT_TRUE(window.runUntil([&] { return window.framesDrawn() > frames; }, 10));
    gdk_display_sync(gdk_display_get_default());
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  }

  /// Presses the first button at `down`, releases it at `up`, and runs until `delivered()`.
  void click(DesktopWindow& window, CGPoint down, CGPoint up, const std::function<bool()>& delivered) {
    GdkWindow* target = gtk_widget_get_window(gtk_bin_get_child(GTK_BIN(window.nativeWindow())));
    gdk_test_simulate_button(target, static_cast<int>(down.x), static_cast<int>(down.y), 1, GdkModifierType(0),
                             GDK_BUTTON_PRESS);
    gdk_test_simulate_button(target, static_cast<int>(up.x), static_cast<int>(up.y), 1, GdkModifierType(GDK_BUTTON1_MASK),
                             GDK_BUTTON_RELEASE);
    EXPECT_TRUE(window.runUntil(delivered, 10));
  }
};

TEST_F(DesktopWindowTests, ShowsWhatTheRendererDrawsAndTakesInput) {
  Screen screen;
  auto rendered = Renderer::renderView(*screen.window, 1);
  ASSERT_TRUE(rendered.ok());
  ASSERT_TRUE(writePNG(**rendered, output("renderer.png")).ok());

  auto host = std::make_shared<WindowDesktopHost>(screen.window);
  auto opened = DesktopWindow::open(host, {"Settings", {320, 260}});
  ASSERT_TRUE(opened.ok()) << opened.error().localizedDescription();
  DesktopWindow& window = **opened;
  settle(window);
  auto shot = window.screenshot();
  ASSERT_TRUE(shot.ok());
  ASSERT_TRUE(writePNG(**shot, output("desktop.png")).ok());
  ASSERT_EQ((*shot)->cgImage()->width, 320);
  ASSERT_EQ((*shot)->cgImage()->height, 260);
  EXPECT_LT(differingShare(*(*shot)->cgImage(), *(*rendered)->cgImage(), 8), 0.005);

  // A click on the button sends up-inside once; a press that leaves it sends up-outside. Both
  // carry the click's touch, ended, on the button.
  auto owner = std::make_shared<Owner>();
  std::vector<std::string> events;
  UIControl& button = *screen.button;
  screen.button->addTarget<Owner>(owner, "tap:", UIControlEventTouchUpInside,
                                  [&](Owner&, UIControl&) { events.push_back("inside, " + touchSeen(button)); });
  screen.button->addTarget<Owner>(owner, "cancelTap:", UIControlEventTouchUpOutside,
                                  [&](Owner&, UIControl&) { events.push_back("outside, " + touchSeen(button)); });
  click(window, {160, 226}, {160, 226}, [&] { return !events.empty(); });
  EXPECT_EQ(events, (std::vector<std::string>{"inside, ended on the control"}));
  click(window, {160, 226}, {160, 120}, [&] { return events.size() >= 2; });
  EXPECT_EQ(events, (std::vector<std::string>{"inside, ended on the control", "outside, ended on the control"}));
  EXPECT_FALSE(screen.button->isHighlighted());

  // A tap on the middle switch turns it on with an animation, drawn frame after frame.
  auto middle = screen.switches[1];
  middle->track->addTarget<Owner>(owner, "toggle:", UIControlEventTouchUpInside, [&](Owner&, UIControl&) {
    middle->on = !middle->on;
    UIView::animate(0.5, [&] { middle->show(); });
  });
  std::size_t before = window.framesDrawn();
  click(window, {278, 130}, {278, 130}, [&] { return middle->on; });
  ASSERT_TRUE(window.runUntil([&] { return middle->knob->layer()->animationKeys().empty(); }, 10));
  EXPECT_GE(window.framesDrawn() - before, 5u);
  settle(window);
  auto toggled = window.screenshot();
  ASSERT_TRUE(toggled.ok());
  ASSERT_TRUE(writePNG(**toggled, output("desktop-toggled.png")).ok());
  // The track is green where the knob was, and the knob is white where it went.
  const CGImage& pixels = *(*toggled)->cgImage();
  EXPECT_EQ(pixels.pixel(266, 130) & 0xFFFFFF, 0x34C759u);
  EXPECT_EQ(pixels.pixel(290, 130) & 0xFFFFFF, 0xFFFFFFu);

  // Keys: characters become text, editing keys become keys.
  std::string typed;
  std::vector<DesktopKey> keys;
  host->onText = [&](const std::string& t) { typed += t; };
  host->onKey = [&](DesktopKey k) { keys.push_back(k); };
  GdkWindow* area = gtk_widget_get_window(gtk_bin_get_child(GTK_BIN(window.nativeWindow())));
  for (guint key : {GDK_KEY_h, GDK_KEY_i, GDK_KEY_BackSpace, GDK_KEY_Return})
    gdk_test_simulate_key(area, -1, -1, key, GdkModifierType(0), GDK_KEY_PRESS);
  EXPECT_TRUE(window.runUntil([&] { return keys.size() == 2; }, 10));
  EXPECT_EQ(typed, "hi");
  EXPECT_EQ(keys, (std::vector<DesktopKey>{DesktopKey::Backspace, DesktopKey::Return}));

  // Resizing the desktop window resizes the screen.
  gtk_window_resize(GTK_WINDOW(window.nativeWindow()), 360, 300);
  EXPECT_TRUE(window.runUntil([&] { return screen.window->bounds().size == CGSize{360, 300}; }, 10));
}


/// A window that answers no touch of its own, only touches of its subviews: taps beside its content
/// reach the windows below.
struct PassThroughWindow : UIWindow {
  std::shared_ptr<UIView> hitTest(CGPoint point) override {
    auto hit = UIWindow::hitTest(point);
    return hit.get() == this ? nullptr : hit;
  }
};

TEST_F(DesktopWindowTests, ShowsTheApplicationsWindowsByLevelAndTouchesReachTheWindowBelow) {
  Screen screen;
  screen.window->makeKeyAndVisible();
  // A card in a window above the screen's, as a banner is shown.
  auto banner = std::make_shared<PassThroughWindow>();
  banner->setFrame({0, 0, 320, 260});
  banner->setWindowLevel(UIWindowLevelStatusBar);
  auto card = std::make_shared<UIControl>();
  card->setFrame({16, 50, 288, 60});
  card->setBackgroundColor(UIColor(1, 0, 0));
  banner->addSubview(card);
  banner->setVisible(true);
  EXPECT_TRUE(screen.window->isKeyWindow());

  auto host = std::make_shared<ApplicationDesktopHost>();
  auto opened = DesktopWindow::open(host, {"Application", {320, 260}});
  ASSERT_TRUE(opened.ok()) << opened.error().localizedDescription();
  DesktopWindow& window = **opened;
  settle(window);
  auto shot = window.screenshot();
  ASSERT_TRUE(shot.ok());
  ASSERT_TRUE(writePNG(**shot, output("desktop-windows.png")).ok());
  const CGImage& pixels = *(*shot)->cgImage();
  EXPECT_EQ(pixels.pixel(160, 80) & 0xFFFFFF, 0xFF0000u);  // the card, over the first row
  EXPECT_EQ(pixels.pixel(160, 20) & 0xFFFFFF, 0xFAFAFAu);  // the screen's bar, beside the card

  // The card takes the touch on it; a tap beside it reaches the button of the window below.
  auto owner = std::make_shared<Owner>();
  std::vector<std::string> events;
  UIControl& cardControl = *card;
  UIControl& button = *screen.button;
  card->addTarget<Owner>(owner, "card:", UIControlEventTouchUpInside,
                         [&](Owner&, UIControl&) { events.push_back("card, " + touchSeen(cardControl)); });
  screen.button->addTarget<Owner>(owner, "tap:", UIControlEventTouchUpInside,
                                  [&](Owner&, UIControl&) { events.push_back("button, " + touchSeen(button)); });
  click(window, {160, 80}, {160, 80}, [&] { return events.size() == 1; });
  click(window, {160, 226}, {160, 226}, [&] { return events.size() == 2; });
  EXPECT_EQ(events, (std::vector<std::string>{"card, ended on the control", "button, ended on the control"}));

  // Resizing the desktop window resizes the screen and every window.
  gtk_window_resize(GTK_WINDOW(window.nativeWindow()), 360, 300);
  EXPECT_TRUE(window.runUntil([&] { return banner->bounds().size == CGSize{360, 300}; }, 10));
  EXPECT_EQ(screen.window->bounds().size, (CGSize{360, 300}));
  EXPECT_EQ(UIScreen::main().bounds().size, (CGSize{360, 300}));
  banner->setVisible(false);
  screen.window->setVisible(false);
}

/// A host whose touch handling fails: what it throws must stop at the window's barrier.
class ThrowingHost final : public DesktopHost {
 public:
  explicit ThrowingHost(std::shared_ptr<UIWindow> window) : window_(std::move(window)) {}
  std::vector<std::shared_ptr<UIView>> displayedViews() override { return {window_}; }
  void handleTouch(DesktopTouchPhase, CGPoint) override { throw std::runtime_error("touch handler failed"); }
  void insertText(const std::string&) override {}
  void pressKey(DesktopKey) override {}
  void resizeScreen(CGSize) override {}

 private:
  std::shared_ptr<UIWindow> window_;
};

TEST_F(DesktopWindowTests, WhatHandlersAndBlocksThrowIsLoggedAndTheWindowGoesOn) {
  std::vector<std::string> logged;
  auto previous = dispatch::setCallbackFailureSink([&](std::string_view callback, std::string_view what) {
    logged.push_back(std::string(callback) + ": " + std::string(what));
  });
  Screen screen;
  auto opened = DesktopWindow::open(std::make_shared<ThrowingHost>(screen.window), {"Faults", {320, 260}});
  ASSERT_TRUE(opened.ok()) << opened.error().localizedDescription();
  DesktopWindow& window = **opened;
  settle(window);

  // Behind a GTK signal: the press handler throws.
  GdkWindow* target = gtk_widget_get_window(gtk_bin_get_child(GTK_BIN(window.nativeWindow())));
  gdk_test_simulate_button(target, 160, 226, 1, GdkModifierType(0), GDK_BUTTON_PRESS);
  ASSERT_TRUE(window.runUntil([&] { return !logged.empty(); }, 10));
  EXPECT_EQ(logged.front(), "window button press: touch handler failed");

  // Behind the main queue's watch: a block throws, and the one queued behind it still runs and
  // what it changes is drawn.
  bool after = false;
  dispatch::DispatchQueue::main()->async([] { throw std::logic_error("block failed"); });
  dispatch::DispatchQueue::main()->async([&] {
    screen.window->setBackgroundColor(UIColor::white(0.5));
    after = true;
  });
  EXPECT_TRUE(window.runUntil([&] { return after; }, 10));
  EXPECT_EQ(logged.back(), "main queue: block failed");
  EXPECT_TRUE(window.isOpen());
  settle(window);
  dispatch::setCallbackFailureSink(std::move(previous));
}

}  // namespace
}  // namespace uikit
