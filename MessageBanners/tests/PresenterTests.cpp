#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "MessageBanners/MessageBannersError.h"
#include "MessageBanners/MessageView.h"
#include "MessageBanners/PresentationContextSelection.h"
#include "MessageBanners/Presenter.h"
#include "MessageBanners/WindowViewController.h"
#include "MessageBanners/tests/BannerTestSupport.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Accessibility.h"
#include "platform/uikit/NavigationController.h"
#include "testing/ScopedManualClock.h"

namespace MessageBanners {
namespace {

using testing_support::CardMessage;

/// Finishes its show and hide at once with a chosen answer.
class FixedAnimator : public Animator {
 public:
  explicit FixedAnimator(bool completes) : completes_(completes) {}
  void show(const AnimationContext& context, Completion completion) override {
    context.containerView()->addSubview(context.messageView());
    completion(completes_);
  }
  void hide(const AnimationContext&, Completion completion) override { completion(completes_); }
  double showDuration() const override { return 0; }
  double hideDuration() const override { return 0; }

 private:
  bool completes_;
};

class PresenterTests : public ::testing::Test {
 protected:
  void SetUp() override { dispatch::drainMainQueue(); }
  void TearDown() override { dispatch::drainMainQueue(); }
  Config logged(Config config = Config()) {
    config.eventListeners.push_back([this](const Event& e) { events_.push_back(static_cast<int>(e.kind)); });
    return config;
  }

  ::testing_support::ScopedManualClock clock_;
  testing_support::TestApp app_;
  std::vector<int> events_;
};

TEST_F(PresenterTests, UnfinishedAnimationsStillEndInAHide) {
  Config config = logged();
  config.presentationStyle = PresentationStyle::custom(std::make_shared<FixedAnimator>(false));
  config.presentationContext = PresentationContext::view(app_.root->view());
  auto presenter = Presenter::create(config, CardMessage::create("a"), nullptr);
  std::vector<bool> completions;
  ASSERT_TRUE(presenter->show([&](bool c) { completions.push_back(c); }).ok());
  // No didShow for a show that did not complete.
  EXPECT_EQ(events_, (std::vector<int>{0}));
  presenter->hide(true, [&](bool c) { completions.push_back(c); });
  presenter->hide(true, [&](bool c) { completions.push_back(c); });  // ignored
  EXPECT_EQ(completions, (std::vector<bool>{false, true}));
  EXPECT_EQ(events_, (std::vector<int>{0, 2, 3}));
  EXPECT_FALSE(presenter->maskingView()->superview());
}

TEST_F(PresenterTests, TopMessageTucksUnderAVisibleNavigationBar) {
  auto navigation = uikit::UINavigationController::create(std::make_shared<uikit::UIViewController>());
  app_.window->setRootViewController(navigation);
  app_.window->layoutIfNeeded();
  Config config;
  config.presentationContext = PresentationContext::viewController(navigation->topViewController());
  auto presenter = Presenter::create(config, CardMessage::create("a"), nullptr);
  ASSERT_TRUE(presenter->show({}).ok());
  app_.window->layoutIfNeeded();
  const auto& masking = presenter->maskingView();
  const auto& bar = navigation->navigationBar();
  EXPECT_EQ(masking->frame().minY(), bar->frame().maxY());
  const auto& siblings = navigation->view()->subviews();
  const auto at = [&](const uikit::UIView* v) {
    return std::find_if(siblings.begin(), siblings.end(), [&](const auto& s) { return s.get() == v; }) - siblings.begin();
  };
  EXPECT_LT(at(masking.get()), at(bar.get()));
  EXPECT_EQ(presenter->safeZoneConflicts(), SafeZoneConflicts::bottomConflict());
}

TEST_F(PresenterTests, WindowAboveTheStatusBarOverAClassicStatusBarConflictsOnlyWithIt) {
  Config config;
  config.presentationContext = PresentationContext::window(UIWindowLevelStatusBar);
  config.windowViewController = [](const Config& c) {
    auto controller = WindowViewController::create(c);
    controller->window()->setWindowSafeAreaInsets({20, 0, 0, 0});
    return controller;
  };
  auto presenter = Presenter::create(config, CardMessage::create("a"), nullptr);
  ASSERT_TRUE(presenter->show({}).ok());
  EXPECT_EQ(presenter->safeZoneConflicts(), SafeZoneConflicts::statusBarCovered());
  presenter->hide(false, {});
}

TEST_F(PresenterTests, AutomaticContextWithoutKeyWindowFailsWithoutChangingAnything) {
  uikit::UIApplication::shared().reset();
  auto presenter = Presenter::create(logged(), CardMessage::create("a"), nullptr);
  auto shown = presenter->show({});
  ASSERT_FALSE(shown.ok());
  EXPECT_EQ(MessageBannersError::fromBridged(shown.error())->code(), MessageBannersError::Code::NoRootViewController);
  EXPECT_FALSE(presenter->installed());
  EXPECT_TRUE(events_.empty());
}


TEST_F(PresenterTests, AMessageIsAnnouncedWithoutDimmingAndFocusedWithIt) {
  struct Case {
    DimMode dim;
    uikit::UIAccessibilityNotification posted;
    bool modal;
  };
  for (const Case& c : {Case{DimMode::none(), uikit::UIAccessibilityNotification::Announcement, false},
                        Case{DimMode::gray(true), uikit::UIAccessibilityNotification::LayoutChanged, true}}) {
    Config config = logged();
    config.presentationStyle = PresentationStyle::custom(std::make_shared<FixedAnimator>(true));
    config.presentationContext = PresentationContext::view(app_.root->view());
    config.dimMode = c.dim;
    auto view = MessageView::viewFromNib(MessageView::Layout::CardView);
    ASSERT_TRUE(view);
    view->configureContent("Blocker enabled", "Reload the page");
    auto presenter = Presenter::create(config, view, nullptr);
    uikit::UIAccessibility::log().clear();
    ASSERT_TRUE(presenter->show(nullptr).ok());

    // The message's element speaks the message and comes first among the masking view's elements.
    auto element = view->accessibilityElement();
    ASSERT_TRUE(element);
    EXPECT_TRUE(element->isAccessibilityElement);
    EXPECT_EQ(element->accessibilityLabel, *view->accessibilityMessage());
    ASSERT_FALSE(presenter->maskingView()->accessibleElements.empty());
    EXPECT_EQ(presenter->maskingView()->accessibleElements.front(), element);
    EXPECT_EQ(presenter->maskingView()->accessibilityViewIsModal, c.modal);
    ASSERT_EQ(uikit::UIAccessibility::log().size(), 1u);
    EXPECT_EQ(uikit::UIAccessibility::log()[0].notification, c.posted);
    if (c.posted == uikit::UIAccessibilityNotification::Announcement) {
      EXPECT_EQ(uikit::UIAccessibility::log()[0].argument, *view->accessibilityMessage());
    }
    presenter->hide(false, nullptr);
  }
}

}  // namespace
}  // namespace MessageBanners
