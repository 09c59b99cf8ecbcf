#pragma once
// Test support for the animators: a window with a full-size container and a 100-point message,
// a manual clock, and a delegate that records what the animator tells it.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "MessageBanners/Animator.h"
#include "MessageBanners/BaseView.h"
#include "MessageBanners/MaskingView.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Window.h"
#include "testing/ScopedManualClock.h"

namespace MessageBanners::testing_support {

class RecordingAnimationDelegate : public AnimationDelegate {
 public:
  void hide(Animator&) override { log.push_back("hide"); }
  void panStarted(Animator&) override { log.push_back("panStarted"); }
  void panEnded(Animator&) override { log.push_back("panEnded"); }
  std::vector<std::string> log;
};

/// A 390 x 844 window, a full-size container and a 100-point message.
class AnimationStage : public ::testing::Test {
 protected:
  void SetUp() override {
    dispatch::drainMainQueue();
    window_ = uikit::UIWindow::create({0, 0, 390, 844});
    container_ = MaskingView::create();
    container_->setFrame(window_->bounds());
    window_->addSubview(container_);
    message_ = BaseView::create();
    message_->heightAnchor().constraintEqualToConstant(100)->setActive(true);
  }
  void TearDown() override { dispatch::drainMainQueue(); }
  void advance(double seconds) {
    clock_->advance(seconds);
    dispatch::drainMainQueue();
  }

  ::testing_support::ScopedManualClock clock_;
  std::shared_ptr<RecordingAnimationDelegate> delegate_ = std::make_shared<RecordingAnimationDelegate>();
  std::shared_ptr<uikit::UIWindow> window_;
  std::shared_ptr<MaskingView> container_;
  std::shared_ptr<BaseView> message_;
};

}  // namespace MessageBanners::testing_support
