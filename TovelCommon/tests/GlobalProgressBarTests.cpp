#include "TovelCommon/GlobalProgressBar.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Log.h"
#include "platform/uikit/ViewController.h"
#include "testing/ScopedManualClock.h"

namespace tovel {
namespace {

class GlobalProgressBarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dispatch::drainMainQueue();
    previousScale_ = uikit::UIScreen::main().scale();
    uikit::UIScreen::main().setScale(2);
    controller_ = makeController(375);
    other_ = uikit::UIView::create({0, 0, 10, 10});
    host().addSubview(other_);
  }
  void TearDown() override { uikit::UIScreen::main().setScale(previousScale_); }

  static std::shared_ptr<uikit::UIViewController> makeController(double width) {
    auto controller = std::make_shared<uikit::UIViewController>();
    controller->setView(uikit::UIView::create({0, 0, width, 667}));
    return controller;
  }
  uikit::UIView& host() { return *controller_->view(); }
  void resizeHost(double width) {
    host().setFrame({0, 0, width, 667});
    host().layoutIfNeeded();
  }
  bool barIsFrontmost(const GlobalProgressBar& bar) { return host().subviews().back().get() == &bar; }

  testing_support::ScopedManualClock clock_;
  double previousScale_ = 0;
  std::shared_ptr<uikit::UIViewController> controller_;
  std::shared_ptr<uikit::UIView> other_;
};

TEST_F(GlobalProgressBarTest, SitsBehindAtTheTopEdgeAsWideAsItsHost) {
  auto bar = GlobalProgressBar::create(controller_);
  EXPECT_EQ(host().subviews().front().get(), bar.get());
  EXPECT_FALSE(bar->translatesAutoresizingMaskIntoConstraints());
  ASSERT_TRUE(bar->topConstraint());
  EXPECT_TRUE(bar->topConstraint()->isActive());

  host().layoutIfNeeded();
  EXPECT_EQ(bar->frame(), (uikit::CGRect{0, 0, 375, 2}));
  EXPECT_TRUE(barIsFrontmost(*bar));
  // Never started: the first layout leaves it stopped and hidden.
  EXPECT_TRUE(bar->isHidden());
  EXPECT_FALSE(bar->isAnimating());
}

TEST_F(GlobalProgressBarTest, FramesCoverOneTileOfPixelsPerWidthAtTheScreenScale) {
  struct Case {
    double scale;
    std::size_t frames;
    int pixelWidth;
    int pixelHeight;
  };
  const Case cases[] = {{2, 24, 750, 4}, {3, 36, 1125, 6}, {1, 12, 375, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scale);
    uikit::UIScreen::main().setScale(c.scale);
    auto controller = makeController(375);
    auto bar = GlobalProgressBar::create(controller);
    controller->view()->layoutIfNeeded();
    ASSERT_EQ(bar->animationImages.size(), c.frames);
    EXPECT_DOUBLE_EQ(bar->animationDuration, 0.35);
    for (const auto& frame : bar->animationImages) {
      ASSERT_TRUE(frame->cgImage());
      EXPECT_EQ(frame->cgImage()->width, c.pixelWidth);
      EXPECT_EQ(frame->cgImage()->height, c.pixelHeight);
      EXPECT_EQ(frame->size(), (uikit::CGSize{375, 2}));
    }
  }
}

TEST_F(GlobalProgressBarTest, EachFrameShiftsTheStripesOnePixelAndTheLoopIsSeamless) {
  auto bar = GlobalProgressBar::create(controller_, uikit::UIColor::redColor());
  host().layoutIfNeeded();
  const auto& frames = bar->animationImages;
  ASSERT_EQ(frames.size(), 24u);
  const uikit::CGImage& first = *frames[0]->cgImage();

  // Slanted bands in the accent colour on a clear background, repeating every tile (24 pixels).
  int opaque = 0;
  int clear = 0;
  for (int x = 0; x < 24; ++x) {
    const std::uint32_t pixel = first.pixel(x, 1);
    if (pixel >> 24 == 0xFF) {
      ++opaque;
      EXPECT_EQ(pixel, 0xFFFF0000u) << x;
    }
    if (pixel >> 24 == 0) ++clear;
  }
  EXPECT_GT(opaque, 0);
  EXPECT_GT(clear, 0);
  EXPECT_NE(first.pixel(4, 0), first.pixel(4, 3));  // the band leans
  for (int x = 0; x < 700; x += 37) EXPECT_EQ(first.pixel(x, 2), first.pixel(x + 24, 2)) << x;

  for (int k : {1, 5, 23}) {
    SCOPED_TRACE(k);
    const uikit::CGImage& shifted = *frames[static_cast<std::size_t>(k)]->cgImage();
    for (int x = 0; x < 700; x += 41) EXPECT_EQ(shifted.pixel(x, 1), first.pixel(x + k, 1)) << x;
  }
}

TEST_F(GlobalProgressBarTest, FramesAreRemadeOnlyForANewWidthAndARunningBarKeepsRunning) {
  auto bar = GlobalProgressBar::create(controller_);
  host().layoutIfNeeded();
  bar->startAnimating();
  const auto first = bar->animationImages;

  bar->setNeedsLayout();
  host().layoutIfNeeded();
  EXPECT_EQ(bar->animationImages, first);

  resizeHost(667);
  ASSERT_EQ(bar->animationImages.size(), 24u);
  EXPECT_EQ(bar->animationImages.front()->cgImage()->width, 1334);
  EXPECT_TRUE(bar->isAnimating());
  EXPECT_FALSE(bar->isHidden());
}

TEST_F(GlobalProgressBarTest, StartShowsInFrontAndStopHides) {
  auto bar = GlobalProgressBar::create(controller_);
  host().layoutIfNeeded();
  host().bringSubviewToFront(other_.get());

  bar->startAnimating();
  EXPECT_FALSE(bar->isHidden());
  EXPECT_TRUE(bar->isAnimating());
  EXPECT_TRUE(barIsFrontmost(*bar));

  bar->stopAnimating();
  EXPECT_TRUE(bar->isHidden());
  EXPECT_FALSE(bar->isAnimating());
}

TEST_F(GlobalProgressBarTest, StartedBeforeItsFirstLayoutRunsOnceFramesExist) {
  auto bar = GlobalProgressBar::create(controller_);
  bar->startAnimating();
  EXPECT_TRUE(bar->animationImages.empty());
  EXPECT_FALSE(bar->isAnimating());

  host().layoutIfNeeded();
  EXPECT_TRUE(bar->isAnimating());
  EXPECT_FALSE(bar->isHidden());
}

TEST_F(GlobalProgressBarTest, LoopShowsOneFrameAfterAnotherOnTheClockAndRepeatsEveryPass) {
  auto bar = GlobalProgressBar::create(controller_);
  host().layoutIfNeeded();
  bar->startAnimating();
  const auto frames = bar->animationImages;
  const double perFrame = 0.35 / 24;

  struct Case {
    const char* name;
    double advance;
    std::size_t frame;
  };
  const Case cases[] = {
      {"at the start", 0, 0},
      {"inside the sixth frame", perFrame * 5.5, 5},
      {"last frame", 0.35 - perFrame * 6, 23},
      {"next pass", perFrame, 0},
      {"third pass", 0.35 + perFrame * 3, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clock_->advance(c.advance);
    EXPECT_EQ(bar->displayedImage(), frames[c.frame]);
  }

  bar->stopAnimating();
  EXPECT_EQ(bar->displayedImage(), nullptr);
}

TEST_F(GlobalProgressBarTest, UnusableScreenScaleIsLoggedAndMakesNoFrames) {
  std::vector<std::string> log;
  auto previous = uikit::UIKitLog::setSink([&log](const std::string& line) { log.push_back(line); });
  for (double scale : {0.0, -2.0, 1e300, 0.01, std::numeric_limits<double>::quiet_NaN()}) {
    SCOPED_TRACE(scale);
    log.clear();
    uikit::UIScreen::main().setScale(scale);
    auto controller = makeController(375);
    auto bar = GlobalProgressBar::create(controller);
    controller->view()->layoutIfNeeded();
    EXPECT_TRUE(bar->animationImages.empty());
    EXPECT_EQ(log.size(), 1u);
  }
  uikit::UIKitLog::setSink(previous);
}

TEST_F(GlobalProgressBarTest, WithoutAViewControllerTheBarIsMadeButNeverPlaced) {
  auto bar = GlobalProgressBar::create(nullptr);
  EXPECT_FALSE(bar->topConstraint());
  EXPECT_FALSE(bar->superview());

  // A controller that goes away leaves a bar that still starts, stops and lays out.
  auto placed = GlobalProgressBar::create(controller_);
  host().layoutIfNeeded();
  controller_.reset();
  placed->startAnimating();
  EXPECT_TRUE(placed->isAnimating());
  EXPECT_FALSE(placed->isHidden());
  placed->setNeedsLayout();
  placed->layoutIfNeeded();
  placed->stopAnimating();
  EXPECT_TRUE(placed->isHidden());
}

}  // namespace
}  // namespace tovel
