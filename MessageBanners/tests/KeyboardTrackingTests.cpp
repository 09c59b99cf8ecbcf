#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MessageBanners/BaseView.h"
#include "MessageBanners/KeyboardTrackingView.h"
#include "MessageBanners/MaskingView.h"
#include "MessageBanners/detail/ToolkitSeams.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Window.h"
#include "testing/ScopedManualClock.h"

namespace MessageBanners {
namespace {

using uikit::CGRect;
using Change = KeyboardTrackingView::Change;

/// Records the reports as "will show", "did frame", …
class RecordingDelegate : public KeyboardTrackingViewDelegate {
 public:
  void trackingViewWillChange(Change change, const foundation::Dictionary&) override { log.push_back("will " + name(change)); }
  void trackingViewDidChange(Change change, const foundation::Dictionary&) override { log.push_back("did " + name(change)); }
  std::vector<std::string> log;

 private:
  static std::string name(Change c) { return c == Change::Show ? "show" : c == Change::Hide ? "hide" : "frame"; }
};

foundation::Dictionary keyboardInfo(const CGRect& endFrame, bool withTiming = true) {
  foundation::Dictionary info;
  info.set(UIKeyboardFrameEndUserInfoKey, uikit::boxRect(endFrame));
  if (withTiming) {
    info.set(UIKeyboardAnimationDurationUserInfoKey, 0.25);
    info.set(UIKeyboardAnimationCurveUserInfoKey, 7);
  }
  return info;
}

void post(const char* name, foundation::Dictionary info = {}) {
  foundation::NotificationCenter::defaultCenter().post(name, {}, std::move(info));
}

/// An 844-point window holding a masking view with a tracking view and a 100-point message
/// pinned (weakly, as the bottom animator pins it) to the bottom.
class KeyboardTrackingTests : public ::testing::Test {
 protected:
  void SetUp() override {
    dispatch::drainMainQueue();
    window_ = uikit::UIWindow::create({0, 0, 390, 844});
    masking_ = MaskingView::create();
    masking_->setFrame(window_->bounds());
    window_->addSubview(masking_);
    tracking_ = KeyboardTrackingView::create();
    tracking_->setDelegate(delegate_);
    masking_->installKeyboardTracking(tracking_);
    message_ = BaseView::create();
    message_->setTranslatesAutoresizingMaskIntoConstraints(false);
    masking_->addSubview(message_);
    auto bottom = message_->bottomAnchor().constraintEqualTo(masking_->bottomAnchor());
    bottom->setPriority(200);
    uikit::NSLayoutConstraint::activateConstraints({
        message_->leadingAnchor().constraintEqualTo(masking_->leadingAnchor()),
        message_->trailingAnchor().constraintEqualTo(masking_->trailingAnchor()),
        message_->heightAnchor().constraintEqualToConstant(100),
        bottom,
    });
    window_->layoutIfNeeded();
  }
  void TearDown() override { dispatch::drainMainQueue(); }
  void advance(double seconds) {
    clock_->advance(seconds);
    dispatch::drainMainQueue();
  }
  /// A layout pass in which the tracking view lays itself out again.
  void relayout() {
    tracking_->setNeedsLayout();
    window_->layoutIfNeeded();
  }
  double height() const { return tracking_->heightConstraint()->constant(); }

  testing_support::ScopedManualClock clock_;
  std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
  std::shared_ptr<uikit::UIWindow> window_;
  std::shared_ptr<MaskingView> masking_;
  std::shared_ptr<KeyboardTrackingView> tracking_;
  std::shared_ptr<BaseView> message_;
};

TEST_F(KeyboardTrackingTests, MessageRidesAboveTheKeyboardAndComesBackWhenItHides) {
  EXPECT_EQ(message_->frame().maxY(), 844);

  post(UIKeyboardWillShowNotification, keyboardInfo({0, 544, 390, 300}));
  EXPECT_EQ(height(), 300);
  // The bounce offset lets the message reach 5 points into the keyboard's top.
  EXPECT_EQ(message_->frame().maxY(), 549);
  EXPECT_EQ(tracking_->layer()->animationForKey("bounds.size")->duration, 0.25);
  EXPECT_EQ(delegate_->log, std::vector<std::string>{"will show"});
  advance(0.25);
  EXPECT_EQ(delegate_->log, (std::vector<std::string>{"will show", "did show"}));
  relayout();
  EXPECT_EQ(message_->frame().maxY(), 549);

  post(UIKeyboardWillHideNotification, keyboardInfo({0, 844, 390, 300}));
  EXPECT_EQ(height(), 0);
  EXPECT_EQ(message_->frame().maxY(), 844);
  advance(0.25);
  // A later layout pass does not bring back the height of the keyboard that went away.
  relayout();
  EXPECT_EQ(height(), 0);
  EXPECT_EQ(message_->frame().maxY(), 844);
  EXPECT_EQ(tracking_->lastObservedKeyboardRect(), std::nullopt);
  EXPECT_EQ(delegate_->log, (std::vector<std::string>{"will show", "did show", "will hide", "did hide"}));
}

TEST_F(KeyboardTrackingTests, LayoutPassRecomputesFromTheStoredKeyboardFrame) {
  post(UIKeyboardWillShowNotification, keyboardInfo({0, 544, 390, 300}));
  advance(0.25);
  // The container now ends 100 points higher, so the keyboard covers 100 points less of it.
  masking_->setFrame({0, 0, 390, 744});
  relayout();
  EXPECT_EQ(height(), 200);
  EXPECT_EQ(message_->frame().maxY(), 549);
  EXPECT_TRUE(tracking_->layer()->animationKeys().empty());
}

TEST_F(KeyboardTrackingTests, KeyboardBelowTheViewGivesTheTopMargin) {
  tracking_->setTopMargin(12);
  post(UIKeyboardWillShowNotification, keyboardInfo({0, 900, 390, 300}));
  EXPECT_EQ(height(), 12);
}

TEST_F(KeyboardTrackingTests, UnchangedHeightAnimatesOnce) {
  post(UIKeyboardWillChangeFrameNotification, keyboardInfo({0, 544, 390, 300}));
  advance(0.25);
  post(UIKeyboardWillChangeFrameNotification, keyboardInfo({0, 544, 390, 300}));
  advance(0.25);
  EXPECT_EQ(delegate_->log, (std::vector<std::string>{"will frame", "did frame", "will frame"}));
}

TEST_F(KeyboardTrackingTests, HideAtZeroHeightReportsNothing) {
  post(UIKeyboardWillHideNotification, keyboardInfo({0, 844, 390, 300}));
  advance(0.25);
  EXPECT_TRUE(delegate_->log.empty());
}

TEST_F(KeyboardTrackingTests, MissingTimingSetsHeightAtOnceWithoutDidChange) {
  post(UIKeyboardWillShowNotification, keyboardInfo({0, 544, 390, 300}, false));
  EXPECT_EQ(height(), 300);
  EXPECT_TRUE(tracking_->layer()->animationKeys().empty());
  advance(1);
  EXPECT_EQ(delegate_->log, std::vector<std::string>{"will show"});
}

TEST_F(KeyboardTrackingTests, MalformedNotificationsChangeNothing) {
  foundation::Dictionary wrongKind;
  wrongKind.set(UIKeyboardFrameEndUserInfoKey, "0 544 390 300");
  for (auto info : {foundation::Dictionary{}, wrongKind}) {
    post(UIKeyboardWillShowNotification, info);
    post(UIKeyboardWillChangeFrameNotification, info);
  }
  advance(1);
  EXPECT_EQ(height(), 0);
  EXPECT_TRUE(delegate_->log.empty());
}

TEST_F(KeyboardTrackingTests, PausedOrInactiveIgnoresTheKeyboard) {
  tracking_->setPaused(true);
  post(UIKeyboardWillShowNotification, keyboardInfo({0, 544, 390, 300}));
  EXPECT_EQ(height(), 0);
  tracking_->setPaused(false);

  post(UIApplicationWillResignActiveNotification);
  EXPECT_TRUE(tracking_->isAutomaticallyPaused());
  post(UIKeyboardWillShowNotification, keyboardInfo({0, 544, 390, 300}));
  EXPECT_EQ(height(), 0);
  post(UIApplicationDidBecomeActiveNotification);
  post(UIKeyboardWillShowNotification, keyboardInfo({0, 544, 390, 300}));
  EXPECT_EQ(height(), 300);

  // Unpausing ends an automatic pause too.
  post(UIApplicationWillResignActiveNotification);
  tracking_->setPaused(false);
  EXPECT_FALSE(tracking_->isAutomaticallyPaused());
}

TEST_F(KeyboardTrackingTests, ViewGoneStopsListening) {
  std::weak_ptr<KeyboardTrackingView> weak = tracking_;
  masking_.reset();
  window_.reset();
  tracking_.reset();
  message_.reset();
  EXPECT_TRUE(weak.expired());
  post(UIKeyboardWillShowNotification, keyboardInfo({0, 544, 390, 300}));
  EXPECT_TRUE(delegate_->log.empty());
}

}  // namespace
}  // namespace MessageBanners
