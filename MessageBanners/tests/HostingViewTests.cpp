#include <gtest/gtest.h>

#include "MessageBanners/MessageHostingView.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Control.h"
#include "platform/uikit/Window.h"
#include "testing/ScopedManualClock.h"

namespace MessageBanners {
namespace {

/// Content: a transparent root with one control in its top-left corner.
struct ButtonContent {
  std::shared_ptr<uikit::UIView> makeView() const {
    auto root = uikit::UIView::create();
    auto button = uikit::UIControl::create();
    button->setFrame({10, 10, 60, 30});
    root->addSubview(button);
    *made = button;
    return root;
  }
  std::shared_ptr<std::shared_ptr<uikit::UIView>> made = std::make_shared<std::shared_ptr<uikit::UIView>>();
};

struct Banner {
  using Content = ButtonContent;
  std::string text;
  ButtonContent built;
  std::string id() const { return "banner:" + text; }
  Content content() const { return built; }
  friend bool operator==(const Banner& a, const Banner& b) { return a.text == b.text; }
};

class HostingViewTests : public ::testing::Test {
 protected:
  void SetUp() override { dispatch::drainMainQueue(); }
  void TearDown() override { dispatch::drainMainQueue(); }
  testing_support::ScopedManualClock clock_;
};

TEST_F(HostingViewTests, HostsTheContentEdgeToEdgeOnAClearBackground) {
  Banner banner{"hello", {}};
  auto view = makeMessageHostingView(banner);
  EXPECT_EQ(view->id(), "banner:hello");
  EXPECT_EQ(view->backgroundView(), view);
  EXPECT_EQ(view->backgroundColor(), uikit::UIColor::clearColor());
  auto hosted = view->hostVC().view();
  EXPECT_EQ(hosted->superview(), view);
  EXPECT_EQ(hosted->backgroundColor(), uikit::UIColor::clearColor());

  auto window = uikit::UIWindow::create({0, 0, 390, 844});
  view->setFrame({0, 50, 390, 120});
  window->addSubview(view);
  window->layoutIfNeeded();
  EXPECT_EQ(hosted->frame(), (uikit::CGRect{0, 0, 390, 120}));
}

TEST_F(HostingViewTests, OnlyTheContentsViewsCatchTouches) {
  Banner banner{"tap", {}};
  auto view = makeMessageHostingView(banner);
  auto window = uikit::UIWindow::create({0, 0, 390, 844});
  view->setFrame({0, 50, 390, 120});
  window->addSubview(view);
  window->layoutIfNeeded();
  EXPECT_EQ(view->hitTest({30, 20}), *banner.built.made);
  EXPECT_EQ(view->hitTest({200, 80}), nullptr);
  EXPECT_EQ(window->hitTest({200, 130}), window);
}

}  // namespace
}  // namespace MessageBanners
