#include <gtest/gtest.h>

#include "MessageBanners/MessageBannersSegue.h"
#include "MessageBanners/TopBottomAnimation.h"
#include "MessageBanners/tests/BannerTestSupport.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/MainRunLoop.h"
#include "testing/ScopedManualClock.h"

namespace MessageBanners {
namespace {

class SegueTests : public ::testing::Test {
 protected:
  void SetUp() override {
    dispatch::drainMainQueue();
    destination_->preferredContentSize = {0, 300};
  }
  void TearDown() override { run(5); }
  /// Moves the clock on in 10-ms steps, running the main queue and the segue's queue.
  void run(double seconds) {
    const int steps = static_cast<int>(seconds * 100 + 0.5);
    for (int i = 0; i < steps; ++i) {
      clock_->advance(0.01);
      for (int j = 0; j < 4; ++j) {
        if (segue_) (void)segue_->messenger()->count("");
        dispatch::drainMainQueue();
      }
    }
  }

  ::testing_support::ScopedManualClock clock_;
  testing_support::TestApp app_;
  std::shared_ptr<uikit::UIViewController> destination_ = std::make_shared<uikit::UIViewController>();
  std::shared_ptr<MessageBannersSegue> segue_ = MessageBannersSegue::create("banner", app_.root, destination_);
};

TEST_F(SegueTests, PresentsTheDestinationAsAMessageAndDismissalHidesIt) {
  segue_->configure(MessageBannersSegue::Layout::BottomCard);
  segue_->perform();
  EXPECT_EQ(destination_->modalPresentationStyle, uikit::UIModalPresentationStyle::Custom);
  run(1);
  // The platform's presentation ended when the message had shown.
  EXPECT_EQ(app_.root->presentedViewController(), destination_);
  EXPECT_TRUE(destination_->view()->isDescendantOfView(segue_->messageView().get()));
  EXPECT_EQ(segue_->containerView()->frame().height(), 300);
  EXPECT_TRUE(segue_->messenger()->current());

  // Dismissing in code hides the message and ends the dismissal when it has gone.
  std::weak_ptr<MessageBannersSegue> weak = segue_;
  segue_.reset();
  app_.root->dismissViewControllerAnimated(true);
  run(0.1);
  EXPECT_TRUE(weak.lock());
  run(1);
  EXPECT_FALSE(app_.root->presentedViewController());
  EXPECT_FALSE(weak.lock());  // it let itself go
}

TEST_F(SegueTests, HidingTheMessageDismissesTheDestination) {
  segue_->overrideModalPresentationStyle = false;
  destination_->modalPresentationStyle = uikit::UIModalPresentationStyle::OverFullScreen;
  segue_->perform();
  run(1);
  EXPECT_EQ(destination_->modalPresentationStyle, uikit::UIModalPresentationStyle::OverFullScreen);
  ASSERT_EQ(app_.root->presentedViewController(), destination_);
  segue_->messenger()->hide(true);  // as a tap on the dimmed area does
  run(1);
  EXPECT_FALSE(app_.root->presentedViewController());
  EXPECT_FALSE(segue_->isRetained());
}

TEST_F(SegueTests, LetsItselfGoOnceTheSourceLeavesTheScreen) {
  segue_->perform();
  run(1);
  std::weak_ptr<MessageBannersSegue> weak = segue_;
  segue_.reset();
  run(2);
  EXPECT_TRUE(weak.lock());
  app_.root->view()->removeFromSuperview();
  run(2);
  EXPECT_FALSE(weak.lock());
}

TEST_F(SegueTests, LayoutsStyleTheMessage) {
  segue_->configure(MessageBannersSegue::Layout::TopTab);
  EXPECT_EQ(segue_->containerView()->cornerRadius(), 15);
  EXPECT_TRUE(segue_->containerView()->roundsLeadingCorners());
  EXPECT_EQ(segue_->messageView()->layoutMarginAdditions(), (uikit::UIEdgeInsets{20, 10, 20, 10}));
  EXPECT_EQ(segue_->containment, MessageBannersSegue::Containment::BackgroundVertical);
  auto animation = std::dynamic_pointer_cast<TopBottomAnimation>(segue_->config().presentationStyle.animator());
  ASSERT_TRUE(animation);
  EXPECT_EQ(animation->springDamping, 1);

  segue_->configure(MessageBannersSegue::Layout::Centered);
  EXPECT_FALSE(segue_->containerView()->roundsLeadingCorners());
  EXPECT_EQ(segue_->config().presentationStyle.kind(), PresentationStyle::Kind::Center);
  EXPECT_EQ(segue_->config().dimMode.kind(), DimMode::Kind::Gray);
  EXPECT_EQ(segue_->config().duration.kind(), Duration::Kind::Forever);
}

}  // namespace
}  // namespace MessageBanners
