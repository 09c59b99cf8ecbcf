#include "walkthrough/WalkthroughPageViewController.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "platform/uikit/Archive.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/Layer.h"
#include "platform/uikit/Log.h"
#include "platform/uikit/Renderer.h"
#include "testing/ScopedManualClock.h"

namespace walkthrough {
namespace {

using uikit::CGPoint;
using uikit::UIView;

struct Logged {
  Logged() { previous = uikit::UIKitLog::setSink([this](const std::string& line) { lines.push_back(line); }); }
  ~Logged() { uikit::UIKitLog::setSink(previous); }
  uikit::UIKitLog::Sink previous;
  std::vector<std::string> lines;
};

// A page whose view holds three subviews tagged 1, 2 and 3, speed (0, 0), variance (1, 0.5).
std::shared_ptr<WalkthroughPageViewController> makePage(const std::string& staticTags = "") {
  auto page = std::make_shared<WalkthroughPageViewController>();
  page->speedVariance = {1, 0.5};
  page->setStaticTags(staticTags);
  page->loadView();  // the subviews are in place before viewDidLoad, as an interface file puts them
  for (int tag = 1; tag <= 3; ++tag) {
    auto subview = UIView::create({0, 0, 10, 10});
    subview->tag = tag;
    page->view()->addSubview(subview);
  }
  page->viewDidLoad();
  return page;
}

UIView& subview(WalkthroughPageViewController& page, std::size_t i) { return *page.view()->subviews()[i]; }

TEST(WalkthroughPageTest, AnimationTypesByTheirExactNames) {
  auto page = std::make_shared<WalkthroughPageViewController>();
  EXPECT_EQ(page->animationType(), "Linear");
  for (const char* name : {"Curve", "Zoom", "InOut", "Linear"}) {
    page->setAnimationType(name);
    EXPECT_EQ(page->animationType(), name);
  }
  Logged log;
  page->setAnimationType("Zoom");
  page->setAnimationType("zoom");
  EXPECT_EQ(page->animation, WalkthroughAnimationType::Zoom) << "an unknown name keeps the type";
  EXPECT_EQ(log.lines.size(), 1u);
}

TEST(WalkthroughPageTest, StaticTagsReadAndWrite) {
  struct Case {
    const char* written;
    std::vector<std::int64_t> tags;
    const char* read;
  } cases[] = {
      {"3,5", {3, 5}, "3,5"},
      {"+7", {7}, "7"},
      {"-2", {-2}, "-2"},
      {"", {}, ""},
      {"9223372036854775807,-9223372036854775808", {INT64_MAX, INT64_MIN}, "9223372036854775807,-9223372036854775808"},
  };
  for (const auto& c : cases) {
    auto page = std::make_shared<WalkthroughPageViewController>();
    page->setStaticTags(c.written);
    EXPECT_EQ(page->notAnimatableViews, c.tags) << c.written;
    EXPECT_EQ(page->staticTags(), c.read) << c.written;
  }
  // Anything else keeps the list as it was, and says so.
  Logged log;
  auto page = std::make_shared<WalkthroughPageViewController>();
  page->setStaticTags("4,8");
  for (const char* bad : {"1,,2", ",1", "1,", " 3", "3 ", "x", "+", "-", "1.5", "0x10", "9223372036854775808", "+-1"}) {
    page->setStaticTags(bad);
    EXPECT_EQ(page->staticTags(), "4,8") << bad;
  }
  EXPECT_EQ(log.lines.size(), 12u);
}

TEST(WalkthroughPageTest, EverySubviewGetsItsOwnSpeedWhenTheViewLoads) {
  std::vector<CGPoint> expected{{1, 0.5}, {2, 1}, {3, 1.5}};
  for (const char* tags : {"", "3", "1"}) {
    auto page = makePage(tags);
    EXPECT_EQ(page->subviewsSpeed, expected) << "static tags " << tags;
    EXPECT_EQ(page->speed, (CGPoint{3, 1.5}));
    EXPECT_TRUE(page->view()->layer()->masksToBounds());
  }
}

TEST(WalkthroughPageTest, ParallaxValuesForEachAnimationType) {
  // Offsets for subview 2 (speed (2, 1)): translation x and y, scale, alpha.
  struct Case {
    WalkthroughAnimationType type;
    double offset, tx, ty, scale, alpha;
  } cases[] = {
      {WalkthroughAnimationType::Linear, 1, 0, 0, 1, 1},
      {WalkthroughAnimationType::Linear, 0, 200, 100, 1, 0},
      {WalkthroughAnimationType::Linear, 1.5, -100, -50, 1, 0.5},
      {WalkthroughAnimationType::Linear, -1, 400, 200, 1, -1},
      {WalkthroughAnimationType::Curve, 1, 0, 0, 1, 1},
      {WalkthroughAnimationType::Curve, 0, 1500, 800, 1, 0},
      {WalkthroughAnimationType::Curve, 1.5, 0, -25, 1, 0.5},
      {WalkthroughAnimationType::Curve, -1, 15000, 7600, 1, -1},
      {WalkthroughAnimationType::Zoom, 1, 0, 0, 1, 1},
      {WalkthroughAnimationType::Zoom, 0, 0, 0, 0, 0},
      {WalkthroughAnimationType::Zoom, 1.5, 0, 0, 0.5, 0.5},
      {WalkthroughAnimationType::Zoom, -1, 0, 0, -1, -1},
      {WalkthroughAnimationType::InOut, 1, 0, 0, 1, 1},
      {WalkthroughAnimationType::InOut, 0, 200, 100, 1, 0},
      {WalkthroughAnimationType::InOut, 1.5, 100, 50, 1, 0.5},
      {WalkthroughAnimationType::InOut, -1, 400, 200, 1, -1},
  };
  for (const auto& c : cases) {
    auto page = makePage();
    page->animation = c.type;
    page->animateAlpha = true;
    page->walkthroughDidScrollTo(12345, c.offset);
    auto t = subview(*page, 1).layer()->transform();
    std::string what = rawValue(c.type) + " at " + std::to_string(c.offset);
    EXPECT_NEAR(t.m41, c.tx, 1e-9) << what;
    EXPECT_NEAR(t.m42, c.ty, 1e-9) << what;
    EXPECT_NEAR(t.m11, c.scale, 1e-9) << what;
    EXPECT_NEAR(t.m22, c.scale, 1e-9) << what;
    EXPECT_EQ(t.m33, 1) << what;
    EXPECT_NEAR(subview(*page, 1).layer()->opacity(), c.alpha, 1e-9) << what;

    // The content offset has no part in it.
    auto again = makePage();
    again->animation = c.type;
    again->walkthroughDidScrollTo(-7, c.offset);
    EXPECT_EQ(subview(*again, 1).layer()->transform(), t) << what;
  }
}

TEST(WalkthroughPageTest, StaticSubviewsFadeButStayAndTheOthersKeepTheirSpeeds) {
  auto page = makePage("1");
  page->animateAlpha = true;
  page->walkthroughDidScrollTo(0, 0);
  EXPECT_TRUE(subview(*page, 0).layer()->transform().isIdentity()) << "static";
  EXPECT_EQ(subview(*page, 0).alpha(), 0) << "but it fades";
  EXPECT_EQ(subview(*page, 1).layer()->transform().m41, 200) << "its own speed (2, 1)";
  EXPECT_EQ(subview(*page, 2).layer()->transform().m41, 300) << "its own speed (3, 1.5)";
  EXPECT_EQ(subview(*page, 2).alpha(), 0);

  // Transforms are set, not added up; static tags are read at every message.
  page->setStaticTags("2");
  page->walkthroughDidScrollTo(0, 0.5);
  EXPECT_EQ(subview(*page, 0).layer()->transform().m41, 50);
  EXPECT_EQ(subview(*page, 1).layer()->transform().m41, 200) << "now static: keeps its last transform";
  EXPECT_EQ(subview(*page, 2).layer()->transform().m41, 150);
}

TEST(WalkthroughPageTest, PagesWithoutOrWithFewerSubviewsAreSafe) {
  auto empty = std::make_shared<WalkthroughPageViewController>();
  empty->view();
  empty->walkthroughDidScrollTo(0, 0.3);
  EXPECT_TRUE(empty->subviewsSpeed.empty());

  auto page = makePage();
  page->view()->subviews()[2]->removeFromSuperview();
  page->view()->subviews()[0]->removeFromSuperview();
  page->walkthroughDidScrollTo(0, 0);
  ASSERT_EQ(page->view()->subviews().size(), 1u);
  EXPECT_EQ(subview(*page, 0).layer()->transform().m41, 100) << "the one left takes the first speed";

  auto unloaded = std::make_shared<WalkthroughPageViewController>();
  unloaded->subviewsSpeed = {{1, 1}};
  unloaded->walkthroughDidScrollTo(0, 0);
  EXPECT_FALSE(unloaded->isViewLoaded()) << "a message does not load the view";
}

TEST(WalkthroughPageTest, InterfaceFilesSetTheInspectableProperties) {
  registerWalkthroughClasses();
  auto board = uikit::UIStoryboard::fromJSON("Tutorial", R"({"scenes": [
    {"identifier": "last", "controller": {"class": "WalkthroughPageViewController",
      "properties": {"speed": [0, 0], "speedVariance": [1, 0.5], "animationType": "InOut", "animateAlpha": true,
                     "staticTags": "7,8"},
      "view": {"class": "UIView",
               "subviews": [{"class": "UIView", "properties": {"tag": 7}}, {"class": "UIView"}]}}},
    {"identifier": "walk", "controller": {"id": "w", "class": "WalkthroughViewController",
      "outlets": {"pageControl": "dots", "nextButton": "next", "prevButton": "prev", "closeButton": "close"},
      "view": {"class": "UIView", "subviews": [{"id": "dots", "class": "UIPageControl"},
        {"id": "next", "class": "UIButton"}, {"id": "prev", "class": "UIButton"}, {"id": "close", "class": "UIButton"}]}}}
  ]})", nullptr);
  ASSERT_TRUE(board.ok()) << board.error().localizedDescription();
  auto made = (*board)->instantiateViewControllerWithIdentifier("last");
  ASSERT_TRUE(made.ok()) << made.error().localizedDescription();
  auto page = std::dynamic_pointer_cast<WalkthroughPageViewController>(*made);
  ASSERT_TRUE(page);
  EXPECT_EQ(page->animation, WalkthroughAnimationType::InOut);
  EXPECT_TRUE(page->animateAlpha);
  EXPECT_EQ(page->staticTags(), "7,8");
  page->view();
  EXPECT_EQ(page->subviewsSpeed, (std::vector<CGPoint>{{1, 0.5}, {2, 1}}));

  auto walk = (*board)->instantiateViewControllerWithIdentifier("walk");
  ASSERT_TRUE(walk.ok()) << walk.error().localizedDescription();
  auto container = std::dynamic_pointer_cast<WalkthroughViewController>(*walk);
  ASSERT_TRUE(container);
  EXPECT_TRUE(container->pageControl && container->nextButton && container->prevButton && container->closeButton);
  container->add(page);
  container->view();
  EXPECT_EQ(container->view()->subviews().front(), container->scrollview());
  EXPECT_EQ(container->pageControl->allControlEvents(), uikit::UIControlEventTouchUpInside);
}

// A page of a colour band with three coloured cards moving at different speeds.
std::shared_ptr<WalkthroughPageViewController> pictureBook(uikit::UIColor background, uikit::UIColor card,
                                                           const std::string& title) {
  auto page = std::make_shared<WalkthroughPageViewController>();
  page->speedVariance = {0.6, 0};
  page->animateAlpha = true;
  page->loadView();
  page->view()->setBackgroundColor(background);
  for (int i = 0; i < 3; ++i) {
    auto box = UIView::create({40.0 + 30 * i, 120.0 + 110 * i, 160, 80});
    box->setBackgroundColor(card);
    page->view()->addSubview(box);
  }
  // The title stays in place and only fades.
  page->setStaticTags("9");
  auto label = std::make_shared<uikit::UILabel>();
  label->tag = 9;
  label->setFrame({40, 40, 240, 40});
  label->textColor = uikit::UIColor(1, 1, 1, 1);
  label->setText(title);
  page->view()->addSubview(label);
  page->viewDidLoad();
  return page;
}

TEST(WalkthroughPictureTest, APageHalfWayThroughAScroll) {
  testing_support::ScopedManualClock clock;
  auto container = WalkthroughViewController::create();
  container->pageControl = std::make_shared<uikit::UIPageControl>();
  container->add(pictureBook(uikit::UIColor(0.16, 0.38, 0.75, 1), uikit::UIColor(1, 0.85, 0.3, 1), "One"));
  container->add(pictureBook(uikit::UIColor(0.13, 0.6, 0.4, 1), uikit::UIColor(1, 1, 1, 1), "Two"));
  container->add(pictureBook(uikit::UIColor(0.7, 0.2, 0.3, 1), uikit::UIColor(0.1, 0.1, 0.1, 1), "Three"));
  auto& view = container->view();
  view->setFrame({0, 0, 320, 480});
  view->setBackgroundColor(uikit::UIColor(0, 0, 0, 1));
  container->pageControl->setFrame({110, 440, 100, 20});
  view->addSubview(container->pageControl);
  container->viewWillAppear(false);
  view->layoutIfNeeded();
  container->scrollview()->setContentOffset({160, 0});  // half way from the first page to the second

  std::string path = std::string(WALKTHROUGH_PICTURE_DIR) + "/walkthrough-mid-scroll.png";
  auto written = uikit::Renderer::renderViewToPNG(*view, path, 1);
  ASSERT_TRUE(written.ok()) << written.error().localizedDescription();
  auto image = uikit::Renderer::renderView(*view, 1);
  ASSERT_TRUE(image.ok());
  const auto& bitmap = *(*image)->cgImage();
  // Left half: the first page's blue; right half: the second page's green, at the top edge.
  auto rgb = [&](int x, int y) { return bitmap.pixel(x, y) & 0xFFFFFF; };
  EXPECT_EQ(rgb(10, 5), rgb(150, 5));
  EXPECT_EQ(rgb(170, 5), rgb(310, 5));
  EXPECT_NE(rgb(10, 5), rgb(310, 5));
  std::printf("picture: %s\n", path.c_str());
}

}  // namespace
}  // namespace walkthrough
