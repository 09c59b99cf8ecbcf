#include <gtest/gtest.h>

#include "MessageBanners/PassthroughView.h"
#include "MessageBanners/Weak.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Archive.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/EventDriver.h"

namespace MessageBanners {
namespace {

using namespace uikit;

struct Counter {
  int upInside = 0, upOutside = 0, down = 0;
};

TEST(WeakTests, HoldsWithoutOwning) {
  Weak<UIView> empty;
  EXPECT_EQ(empty.value(), nullptr);

  auto a = UIView::create(), b = UIView::create();
  Weak<UIView> box(a);
  EXPECT_EQ(box.value(), a);
  box.setValue(b);
  EXPECT_EQ(box.value(), b);
  b.reset();
  EXPECT_EQ(box.value(), nullptr) << "the last owner let go";
  box.setValue(a);
  box.setValue(nullptr);
  EXPECT_EQ(box.value(), nullptr);
}

// An app window with a button at (20, 100, 100, 44) and a message window above it whose root is
// a pass-through view holding a banner with its own button at the top.
class PassthroughTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UIApplication::shared().reset();
    appWindow = UIWindow::create({0, 0, 390, 844});
    appButton = UIButton::create({20, 100, 100, 44});
    appWindow->addSubview(appButton);
    appButton->addTarget<Counter>(counter, "tap", UIControlEventTouchUpInside,
                                  [](Counter& c, UIControl&) { c.upInside++; });
    appButton->addTarget<Counter>(counter, "out", UIControlEventTouchUpOutside,
                                  [](Counter& c, UIControl&) { c.upOutside++; });
    appButton->addTarget<Counter>(counter, "down", UIControlEventTouchDown, [](Counter& c, UIControl&) { c.down++; });
    appWindow->makeKeyAndVisible();

    root = PassthroughView::create({0, 0, 390, 844});
    banner = UIView::create({0, 0, 390, 90});
    bannerButton = UIButton::create({300, 40, 60, 30});
    banner->addSubview(bannerButton);
    bannerButton->addTarget<Counter>(bannerCounter, "tap", UIControlEventTouchUpInside,
                                     [](Counter& c, UIControl&) { c.upInside++; });
    root->addSubview(banner);
    messageWindow = PassthroughWindow::create(root);
    messageWindow->setWindowLevel(UIWindowLevelStatusBar);
    messageWindow->addSubview(root);
    messageWindow->setVisible(true);
  }
  void TearDown() override { UIApplication::shared().reset(); }

  std::shared_ptr<Counter> counter = std::make_shared<Counter>();
  std::shared_ptr<Counter> bannerCounter = std::make_shared<Counter>();
  std::shared_ptr<UIWindow> appWindow;
  std::shared_ptr<UIButton> appButton;
  std::shared_ptr<PassthroughView> root;
  std::shared_ptr<UIView> banner;
  std::shared_ptr<UIButton> bannerButton;
  std::shared_ptr<PassthroughWindow> messageWindow;
  UIEventDriver& driver = UIEventDriver::shared();
};

TEST_F(PassthroughTest, EmptyAreaWithoutHandlerPassesTapToWindowBelow) {
  EXPECT_EQ(messageWindow->frame(), UIScreen::main().bounds()) << "a zero-frame window takes the screen when shown";
  EXPECT_EQ(UIApplication::shared().hitTest({50, 120}), appButton);
  driver.tap({50, 120});
  EXPECT_EQ(counter->down, 1);
  EXPECT_EQ(counter->upInside, 1);
  EXPECT_EQ(counter->upOutside, 0);
}

TEST_F(PassthroughTest, TouchThatLeavesTheButtonSendsUpOutsideOnly) {
  driver.touchDown({50, 120});
  EXPECT_TRUE(appButton->isHighlighted());
  driver.touchMove({300, 400});
  EXPECT_FALSE(appButton->isHighlighted());
  driver.touchUp({300, 400});
  EXPECT_EQ(counter->upInside, 0);
  EXPECT_EQ(counter->upOutside, 1);
}

TEST_F(PassthroughTest, HandlerCatchesTapsOnTheEmptyArea) {
  int dismissed = 0;
  root->tappedHander = [&] { dismissed++; };
  driver.tap({50, 120});
  EXPECT_EQ(dismissed, 1);
  EXPECT_EQ(counter->upInside, 0) << "a dimmed area swallows the tap";

  // A handler that does nothing still swallows the touch.
  root->tappedHander = [] {};
  driver.tap({50, 120});
  EXPECT_EQ(counter->upInside, 0);
}

TEST_F(PassthroughTest, BannerControlsGetTheirTouchesInEveryMode) {
  for (bool withHandler : {false, true}) {
    root->tappedHander = withHandler ? std::function<void()>([] {}) : nullptr;
    driver.tap({330, 55});
    EXPECT_EQ(counter->upInside, 0);
  }
  EXPECT_EQ(bannerCounter->upInside, 2);
  // The banner's own empty area is content, not the pass-through: it keeps the touch.
  EXPECT_EQ(UIApplication::shared().hitTest({10, 10}), banner);
}

TEST_F(PassthroughTest, ArchivedViewIsSetUpLikeAMadeOne) {
  PassthroughView::registerArchiveClass();
  auto view = std::dynamic_pointer_cast<PassthroughView>(ClassRegistry::make("MessageBanners.PassthroughView"));
  ASSERT_TRUE(view);
  EXPECT_FALSE(view->tappedHander);
  EXPECT_EQ(view->actionsForTarget(view.get(), UIControlEventTouchUpInside), std::vector<std::string>{"tapped"});
}

TEST_F(PassthroughTest, WindowWithoutHitTestViewAnswersAsAPlainWindow) {
  auto window = PassthroughWindow::create(nullptr);
  window->setFrame({0, 0, 100, 100});
  EXPECT_EQ(window->hitTest({10, 10}), window);
  // Once its hit-test view is gone, the window behaves as a plain one.
  auto view = UIView::create({0, 0, 100, 100});
  auto other = PassthroughWindow::create(view);
  other->setFrame({0, 0, 100, 100});
  other->addSubview(view);
  EXPECT_EQ(other->hitTest({10, 10}), view);
  view->removeFromSuperview();
  view.reset();
  EXPECT_EQ(other->hitTest({10, 10}), other);
}

}  // namespace
}  // namespace MessageBanners
