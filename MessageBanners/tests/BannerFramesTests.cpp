#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "MessageBanners/CornerRoundingView.h"
#include "MessageBanners/MessageBanners.h"
#include "MessageBanners/tests/BannerTestSupport.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/Renderer.h"
#include "testing/ScopedManualClock.h"

namespace MessageBanners {
namespace {

/// A card banner: a rounded blue card with a shadow and a line of text, inset 20 points.
std::shared_ptr<BaseView> makeCard() {
  auto message = BaseView::create();
  message->heightAnchor().constraintEqualToConstant(110)->setActive(true);
  auto card = CornerRoundingView::create();
  card->setCornerRadius(15);
  card->setBackgroundColor(uikit::UIColor{0.16, 0.42, 0.86, 1});
  message->installBackground(card, {10, 20, 10, 20});
  auto label = std::make_shared<uikit::UILabel>();
  label->setText("Blocking lists updated");
  label->textColor = uikit::UIColor::whiteColor();
  label->setFrame({20, 20, 300, 30});
  card->addSubview(label);
  message->applyDropShadow();
  return message;
}

// Frames of a top card banner drawn from the layers' presentation values: as the show starts,
// half-way through the spring, shown, and half-way through the hide. The files go next to the
// test binary for a look by eye; the test checks that the card moves as the frames should show.
TEST(BannerFramesTests, CardBannerFramesFromShowToHide) {
  dispatch::drainMainQueue();
  ::testing_support::ScopedManualClock clock;
  testing_support::TestApp app;
  auto manager = MessageBanners::create();
  Config config;
  config.presentationContext = PresentationContext::view(app.root->view());
  auto card = makeCard();
  manager->show(config, card);

  const std::filesystem::path folder = std::filesystem::path(FENDREL_BANNER_FRAMES_DIR);
  std::filesystem::create_directories(folder);
  auto settle = [&] {
    for (int i = 0; i < 5; ++i) {
      (void)manager->count("");
      dispatch::drainMainQueue();
    }
  };
  const std::vector<std::pair<const char*, double>> frames{
      {"1-show", 0.0}, {"2-mid-show", 0.12}, {"3-shown", 1.0}, {"4-mid-hide", 2.5}};
  std::vector<double> cardTop;
  double step = 0;
  for (const auto& [name, time] : frames) {
    while (clock->uptime() < time - 1e-9) {
      step += 1;
      clock->advance(std::min(step * 0.01 + step * 1e-8, time + step * 1e-8) - clock->uptime());
      settle();
    }
    settle();
    ASSERT_TRUE(uikit::Renderer::renderViewToPNG(*app.window, (folder / (std::string(name) + ".png")).string(), 2).ok());
    const auto transform = std::get<uikit::CATransform3D>(card->layer()->presentationValue("transform", clock->uptime()));
    cardTop.push_back(card->center().y - card->bounds().height() / 2 + transform.affine().ty);
  }
  // Off screen above, coming down, resting at the top edge (5 points of bounce hidden), going up.
  // (The untransformed place is the resting one; the presentation transform carries the movement.)
  EXPECT_LE(cardTop[0], -100);
  EXPECT_GT(cardTop[1], cardTop[0]);
  EXPECT_NEAR(cardTop[2], -5, 0.5);
  EXPECT_LT(cardTop[3], cardTop[2]);
  EXPECT_GT(cardTop[3], -115);
}

}  // namespace
}  // namespace MessageBanners
