#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <pango/pangocairo.h>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/FileManager.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/EventDriver.h"
#include "platform/uikit/FontTextMeasurer.h"
#include "platform/uikit/ImageDecoding.h"
#include "platform/uikit/ImageRenderer.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/Layer.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/PageControl.h"
#include "platform/uikit/Renderer.h"
#include "platform/uikit/Switch.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/UIKitError.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/VisualEffectView.h"
#include "platform/uikit/Window.h"
#include "testing/ScopedManualClock.h"
#include "testing/TemporaryFolder.h"

namespace uikit {
namespace {

/// An unpremultiplied colour in 0…255.
struct RGBA {
  int r, g, b, a;
};

RGBA pixelAt(const UIImage& image, int x, int y) {
  std::uint32_t p = image.cgImage()->pixel(x, y);
  int a = p >> 24;
  auto un = [a](std::uint32_t c) { return a == 0 ? 0 : static_cast<int>((c * 255 + a / 2) / a); };
  return {un(p >> 16 & 255), un(p >> 8 & 255), un(p & 255), a};
}

::testing::AssertionResult near(RGBA got, RGBA want, int tolerance = 8) {
  if (std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
      std::abs(got.b - want.b) <= tolerance && std::abs(got.a - want.a) <= tolerance)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got (" << got.r << ", " << got.g << ", " << got.b << ", " << got.a
                                       << "), want (" << want.r << ", " << want.g << ", " << want.b << ", "
                                       << want.a << ")";
}

constexpr RGBA kWhite{255, 255, 255, 255}, kRed{255, 0, 0, 255}, kBlue{0, 0, 255, 255}, kGreen{0, 255, 0, 255};

std::shared_ptr<UIView> box(CGRect frame, UIColor color) {
  auto v = UIView::create(frame);
  v->setBackgroundColor(color);
  return v;
}

class RendererTests : public ::testing::Test {
 protected:
  void SetUp() override { dispatch::drainMainQueue(); }
  testing_support::ScopedManualClock clock_;
};

struct Probe {
  CGPoint point;
  RGBA color;
};

struct LayerCase {
  const char* name;
  std::function<void(UIView& root)> build;
  std::vector<Probe> probes;
};

/// A shape layer stroking `path` in blue, without fill, over the whole 100-point root.
std::shared_ptr<CAShapeLayer> ring(const UIBezierPath& path, double width, double start, double end) {
  auto shape = CAShapeLayer::create();
  shape->setFrame({0, 0, 100, 100});
  shape->setPath(path);
  shape->setFillColor(std::nullopt);
  shape->setStrokeColor(UIColor(0, 0, 1));
  shape->setLineWidth(width);
  shape->setStrokeStart(start);
  shape->setStrokeEnd(end);
  return shape;
}

TEST_F(RendererTests, DrawsEachLayerFeatureWhereItBelongs) {
  const UIColor red = UIColor::redColor(), blue = UIColor(0, 0, 1);
  const LayerCase cases[] = {
      {"background and frame", [&](UIView& r) { r.addSubview(box({10, 10, 20, 20}, red)); },
       {{{15, 15}, kRed}, {{5, 5}, kWhite}, {{31, 15}, kWhite}}},
      {"corner radius cuts the corners",
       [&](UIView& r) {
         auto v = box({10, 10, 40, 40}, red);
         v->layer()->setCornerRadius(20);
         r.addSubview(v);
       },
       {{{11, 11}, kWhite}, {{30, 30}, kRed}, {{30, 11}, kRed}}},
      {"border lies inside the bounds",
       [&](UIView& r) {
         auto v = UIView::create({10, 10, 40, 40});
         v->layer()->setBorderWidth(4);
         v->layer()->setBorderColor(blue);
         r.addSubview(v);
       },
       {{{11.5, 30}, kBlue}, {{8.5, 30}, kWhite}, {{16, 30}, kWhite}}},
      {"transform scales around the centre",
       [&](UIView& r) {
         auto v = box({40, 40, 20, 20}, red);
         v->setTransform(CGAffineTransform::makeScale(2, 2));
         r.addSubview(v);
       },
       {{{32, 50}, kRed}, {{28, 50}, kWhite}}},
      {"rotation turns the square", [&](UIView& r) {
         auto v = box({30, 30, 40, 40}, red);
         v->setTransform(CGAffineTransform::makeRotation(kPi / 4));
         r.addSubview(v);
       },
       {{{25, 50}, kRed}, {{33, 33}, kWhite}}},
      {"half opacity blends with what is below",
       [&](UIView& r) {
         auto v = box({10, 10, 20, 20}, red);
         v->setAlpha(0.5);
         r.addSubview(v);
       },
       {{{15, 15}, {255, 128, 128, 255}}}},
      {"hidden views are not drawn",
       [&](UIView& r) {
         auto v = box({10, 10, 20, 20}, red);
         v->setHidden(true);
         r.addSubview(v);
       },
       {{{15, 15}, kWhite}}},
      {"clipping keeps subviews inside",
       [&](UIView& r) {
         auto clip = UIView::create({10, 10, 20, 20});
         clip->setClipsToBounds(true);
         clip->addSubview(box({0, 0, 60, 60}, red));
         r.addSubview(clip);
       },
       {{{15, 15}, kRed}, {{40, 40}, kWhite}}},
      {"mask keeps what its alpha covers",
       [&](UIView& r) {
         auto v = box({0, 0, 100, 100}, red);
         auto mask = CALayer::create();
         mask->setFrame({0, 0, 50, 100});
         mask->setBackgroundColor(UIColor::blackColor());
         v->layer()->setMask(mask);
         r.addSubview(v);
       },
       {{{25, 50}, kRed}, {{75, 50}, kWhite}}},
      {"shadow path is offset and drawn below",
       [&](UIView& r) {
         auto v = box({10, 10, 30, 30}, red);
         auto* l = v->layer().get();
         l->setShadowOpacity(1);
         l->setShadowRadius(0);
         l->setShadowOffset({20, 20});
         l->setShadowPath(UIBezierPath::rect({0, 0, 30, 30}));
         r.addSubview(v);
       },
       {{{45, 45}, {0, 0, 0, 255}}, {{20, 20}, kRed}, {{5, 45}, kWhite}}},
      {"shadow without a path follows the content",
       [&](UIView& r) {
         auto v = box({10, 10, 30, 30}, red);
         v->layer()->setShadowOpacity(0.5);
         v->layer()->setShadowRadius(0);
         v->layer()->setShadowOffset({0, 40});
         r.addSubview(v);
       },
       {{{20, 60}, {128, 128, 128, 255}}, {{20, 85}, kWhite}}},
      {"a clipping layer clips its shadow away",
       [&](UIView& r) {
         auto v = box({10, 10, 30, 30}, red);
         v->setClipsToBounds(true);
         v->layer()->setShadowOpacity(1);
         v->layer()->setShadowRadius(0);
         v->layer()->setShadowOffset({0, 40});
         r.addSubview(v);
       },
       {{{20, 60}, kWhite}}},
      {"blurred shadow fades out from its edge",
       [&](UIView& r) {
         auto v = box({20, 20, 40, 40}, red);
         v->layer()->setShadowOpacity(1);
         v->layer()->setShadowRadius(8);
         v->layer()->setShadowOffset({0, 0});
         r.addSubview(v);
       },
       {{{62, 40}, {176, 176, 176, 255}}, {{90, 40}, kWhite}}},
      {"a faded shadowed view inside a clip keeps its place",
       [&](UIView& r) {
         auto clip = UIView::create({30, 30, 40, 40});
         clip->setClipsToBounds(true);
         auto v = box({10, 10, 20, 20}, red);
         v->setAlpha(0.5);
         v->layer()->setShadowOpacity(1);
         v->layer()->setShadowRadius(0);
         v->layer()->setShadowOffset({5, 5});
         clip->addSubview(v);
         r.addSubview(clip);
       },
       {{{42, 42}, {255, 128, 128, 255}}, {{62, 62}, {128, 128, 128, 255}}, {{67, 67}, kWhite}, {{28, 42}, kWhite}}},
      {"dynamic colours follow the interface style",
       [&](UIView& r) {
         auto dark = box({0, 0, 50, 50}, UIColor::blackColor());
         dark->setOverrideUserInterfaceStyle(UIUserInterfaceStyle::Dark);
         auto shape = CAShapeLayer::create();
         shape->setFrame({0, 0, 50, 50});
         shape->setPath(UIBezierPath::rect({10, 10, 30, 30}));
         shape->setFillColor(UIColor::labelColor());
         dark->layer()->addSublayer(shape);
         r.addSubview(dark);
       },
       {{{25, 25}, kWhite}, {{5, 5}, {0, 0, 0, 255}}}},
      // A progress ring over a grey track, as an outline button draws them.
      {"thick stroke spans its width around the path",
       [&](UIView& r) { r.layer()->addSublayer(ring(UIBezierPath::ovalInRect({10, 10, 80, 80}), 12, 0, 1)); },
       {{{95, 50}, kBlue}, {{85, 50}, kBlue}, {{98, 50}, kWhite}, {{82, 50}, kWhite}, {{50, 50}, kWhite}}},
      {"oval stroke runs clockwise from its right-hand point",
       [&](UIView& r) { r.layer()->addSublayer(ring(UIBezierPath::ovalInRect({10, 10, 80, 80}), 6, 0, 0.25)); },
       {{{78, 78}, kBlue}, {{78, 22}, kWhite}, {{22, 78}, kWhite}}},
      {"track ring under a partial progress ring",
       [&](UIView& r) {
         auto track = ring(UIBezierPath::ovalInRect({10, 10, 80, 80}), 6, 0, 1);
         track->setStrokeColor(UIColor::lightGrayColor());
         r.layer()->addSublayer(track);
         r.layer()->addSublayer(ring(UIBezierPath::ovalInRect({10, 10, 80, 80}), 6, 0, 0.25));
       },
       {{{78, 78}, kBlue}, {{78, 22}, {170, 170, 170, 255}}, {{10, 50}, {170, 170, 170, 255}}, {{50, 50}, kWhite}}},
      {"round border draws a ring inside the bounds",
       [&](UIView& r) {
         auto v = UIView::create({10, 10, 80, 80});
         v->layer()->setCornerRadius(40);
         v->layer()->setBorderWidth(6);
         v->layer()->setBorderColor(UIColor(0, 0, 1));
         r.addSubview(v);
       },
       {{{12, 50}, kBlue}, {{50, 12}, kBlue}, {{50, 50}, kWhite}, {{13, 13}, kWhite}}},
      {"page dots: the current one dark, the others light, centred",
       [&](UIView& r) {
         auto dots = std::make_shared<UIPageControl>();
         dots->setFrame({0, 40, 100, 20});
         dots->setNumberOfPages(3);
         dots->setCurrentPage(1);
         dots->pageIndicatorTintColor = UIColor(0, 0, 1);
         dots->currentPageIndicatorTintColor = UIColor::redColor();
         r.addSubview(dots);
       },
       {{{34, 50}, kBlue}, {{50, 50}, kRed}, {{66, 50}, kBlue}, {{42, 50}, kWhite}, {{50, 45}, kWhite}}},
      {"page dots hidden for a single page",
       [&](UIView& r) {
         auto dots = std::make_shared<UIPageControl>();
         dots->setFrame({0, 40, 100, 20});
         dots->hidesForSinglePage = true;
         dots->setNumberOfPages(1);
         r.addSubview(dots);
       },
       {{{50, 50}, kWhite}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto root = box({0, 0, 100, 100}, UIColor::whiteColor());
    c.build(*root);
    auto image = Renderer::renderView(*root, 1);
    ASSERT_TRUE(image.ok());
    for (const auto& p : c.probes) {
      SCOPED_TRACE(::testing::Message() << "at " << p.point.x << ", " << p.point.y);
      EXPECT_TRUE(near(pixelAt(**image, static_cast<int>(p.point.x), static_cast<int>(p.point.y)), p.color, 40));
    }
  }
}

struct StrokeCase {
  const char* name;
  double start, end;
  std::vector<Probe> probes;
};

TEST_F(RendererTests, ShapeLayerStrokesOnlyItsRange) {
  // A ring starting at the top and running clockwise: the right side is the first half.
  const StrokeCase cases[] = {
      {"whole ring", 0, 1, {{{90, 50}, kBlue}, {{10, 50}, kBlue}}},
      {"first half", 0, 0.5, {{{90, 50}, kBlue}, {{10, 50}, kWhite}}},
      {"second half", 0.5, 1, {{{90, 50}, kWhite}, {{10, 50}, kBlue}}},
      {"end beyond one is cut to one", 0, 7, {{{90, 50}, kBlue}, {{10, 50}, kBlue}}},
      {"empty range draws nothing", 0.6, 0.4, {{{90, 50}, kWhite}, {{10, 50}, kWhite}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto root = box({0, 0, 100, 100}, UIColor::whiteColor());
    auto ring = CAShapeLayer::create();
    ring->setFrame({0, 0, 100, 100});
    ring->setPath(UIBezierPath::arc({50, 50}, 40, -kPi / 2, 3 * kPi / 2, true));
    ring->setFillColor(std::nullopt);
    ring->setStrokeColor(UIColor(0, 0, 1));
    ring->setLineWidth(6);
    ring->setStrokeStart(c.start);
    ring->setStrokeEnd(c.end);
    root->layer()->addSublayer(ring);
    auto image = Renderer::renderView(*root, 1);
    ASSERT_TRUE(image.ok());
    for (const auto& p : c.probes)
      EXPECT_TRUE(near(pixelAt(**image, static_cast<int>(p.point.x), static_cast<int>(p.point.y)), p.color, 40));
  }
}

TEST_F(RendererTests, FilledShapeAndScaleGiveDevicePixels) {
  auto root = box({0, 0, 20, 10}, UIColor::whiteColor());
  auto shape = CAShapeLayer::create();
  shape->setFrame({0, 0, 20, 10});
  shape->setPath(UIBezierPath::rect({10, 0, 10, 10}));
  shape->setFillColor(UIColor::redColor());
  root->layer()->addSublayer(shape);
  auto image = Renderer::renderView(*root, 3);
  ASSERT_TRUE(image.ok());
  EXPECT_EQ((*image)->cgImage()->width, 60);
  EXPECT_EQ((*image)->cgImage()->height, 30);
  EXPECT_DOUBLE_EQ((*image)->size().width, 20);
  EXPECT_TRUE(near(pixelAt(**image, 31, 15), kRed));
  EXPECT_TRUE(near(pixelAt(**image, 28, 15), kWhite));
}

TEST_F(RendererTests, RunningAnimationsDrawTheirPresentationValues) {
  auto root = box({0, 0, 100, 100}, UIColor::whiteColor());
  auto v = box({0, 0, 20, 20}, UIColor::redColor());
  root->addSubview(v);
  auto grower = box({0, 80, 20, 20}, UIColor::redColor());
  root->addSubview(grower);
  double start = CACurrentMediaTime();
  UIView::animate(1.0, 0, UIViewAnimationOptionCurveLinear, [&] {
    v->setCenter({90, 10});
    v->setBackgroundColor(UIColor(0, 0, 1));
    grower->setFrame({0, 80, 100, 20});
  });
  auto middle = Renderer::renderView(*root, 1, start + 0.5);
  auto end = Renderer::renderView(*root, 1, start + 1.0);
  ASSERT_TRUE(middle.ok() && end.ok());
  // Half way the square is centred at x = 50 and half red, half blue.
  EXPECT_TRUE(near(pixelAt(**middle, 50, 10), {128, 0, 128, 255}, 12));
  EXPECT_TRUE(near(pixelAt(**middle, 10, 10), kWhite));
  // The growing view is 60 points wide half way.
  EXPECT_TRUE(near(pixelAt(**middle, 58, 90), kRed));
  EXPECT_TRUE(near(pixelAt(**middle, 62, 90), kWhite));
  EXPECT_TRUE(near(pixelAt(**end, 90, 10), kBlue));
}

TEST_F(RendererTests, LabelsDrawTheirTextInTheirColour) {
  auto root = box({0, 0, 200, 40}, UIColor::whiteColor());
  auto label = std::make_shared<UILabel>();
  label->setFrame({10, 5, 180, 30});
  label->setText("Hello, world");
  label->textColor = UIColor(0, 0, 1);
  root->addSubview(label);
  auto image = Renderer::renderView(*root, 1);
  ASSERT_TRUE(image.ok());
  int inked = 0, outside = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 200; ++x) {
      RGBA p = pixelAt(**image, x, y);
      bool ink = p.r < 128;
      if (!ink) continue;
      EXPECT_GT(p.b, 200);
      if (x >= 10 && y >= 5 && y < 35) ++inked;
      else ++outside;
    }
  EXPECT_GT(inked, 30);
  EXPECT_EQ(outside, 0);
}

/// The first and last columns with ink (red below half) in the image, or {-1, -1}.
std::pair<int, int> inkColumns(const UIImage& image) {
  int first = -1, last = -1;
  for (int x = 0; x < image.cgImage()->width; ++x)
    for (int y = 0; y < image.cgImage()->height; ++y)
      if (pixelAt(image, x, y).r < 128) {
        if (first < 0) first = x;
        last = x;
        break;
      }
  return {first, last};
}

TEST_F(RendererTests, LabelsPlaceTheirLinesByAlignment) {
  struct Case {
    const char* name;
    std::string text;
    NSTextAlignment alignment;
    int minFirst, maxFirst, minLast, maxLast;
  };
  // A 300-point label holding about 40 points of text.
  const Case cases[] = {
      {"left", "Word", NSTextAlignment::Left, 0, 4, 0, 80},
      {"natural left-to-right", "Word", NSTextAlignment::Natural, 0, 4, 0, 80},
      {"justified single line stays at the leading edge", "Word", NSTextAlignment::Justified, 0, 4, 0, 80},
      {"center", "Word", NSTextAlignment::Center, 110, 150, 150, 190},
      {"right", "Word", NSTextAlignment::Right, 220, 299, 294, 299},
      {"natural right-to-left", "\u05e9\u05dc\u05d5\u05dd", NSTextAlignment::Natural, 220, 299, 294, 299},
      {"left stays left for right-to-left text", "\u05e9\u05dc\u05d5\u05dd", NSTextAlignment::Left, 0, 4, 0, 80},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto root = box({0, 0, 300, 30}, UIColor::whiteColor());
    auto label = std::make_shared<UILabel>();
    label->setFrame({0, 0, 300, 30});
    label->setText(c.text);
    label->textColor = UIColor(0, 0, 0);
    label->textAlignment = c.alignment;
    root->addSubview(label);
    auto image = Renderer::renderView(*root, 1);
    ASSERT_TRUE(image.ok());
    auto [first, last] = inkColumns(**image);
    EXPECT_GE(first, c.minFirst);
    EXPECT_LE(first, c.maxFirst);
    EXPECT_GE(last, c.minLast);
    EXPECT_LE(last, c.maxLast);
  }
}

struct RuleRows : UITableViewDataSource {
  long numberOfRowsInSection(UITableView&, long) override { return 2; }
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& t, const NSIndexPath& p) override {
    auto cell = t.dequeueReusableCell("Rule", p);
    cell->textLabel()->setText(p.row == 0 ? "example.com" : "news.example.org");
    return cell;
  }
  std::optional<std::string> titleForHeaderInSection(UITableView&, long) override { return "Enabled rules"; }
};

/// The pixels in `area` for which `matches` holds: how many, and their centre.
std::pair<int, CGPoint> pixelsWhere(const UIImage& image, CGRect area, const std::function<bool(RGBA)>& matches) {
  int count = 0;
  double sx = 0, sy = 0;
  for (int y = static_cast<int>(area.minY()); y < static_cast<int>(area.maxY()); ++y)
    for (int x = static_cast<int>(area.minX()); x < static_cast<int>(area.maxX()); ++x)
      if (matches(pixelAt(image, x, y))) {
        ++count;
        sx += x;
        sy += y;
      }
  return {count, count ? CGPoint{sx / count, sy / count} : CGPoint{}};
}

// A small screen as the app shows one: a navigation bar with a title and an Add item, a table
// with a titled section, and page dots. Drawn, tapped where the item was drawn, and kept as a
// PNG in the build folder for a look.
TEST_F(RendererTests, NavigationScreenDrawsItsBarHeadersAndDots) {
  UIApplication::shared().reset();
  TextMeasurer::setCurrent(std::make_shared<FontTextMeasurer>());
  auto window = UIWindow::create({0, 0, 320, 300});
  window->setWindowSafeAreaInsets({20, 0, 0, 0});
  auto list = std::make_shared<UIViewController>();
  list->title = "Rules";
  int adds = 0;
  auto add = std::make_shared<UIBarButtonItem>();
  add->title = "Add";
  add->action = [&](UIBarButtonItem&) { ++adds; };
  list->navigationItem.rightBarButtonItems = {add};
  list->view()->setBackgroundColor(UIColor::whiteColor());
  auto table = std::make_shared<UITableView>();
  // The bar is opaque: the controller's view starts below it, at 64 points in the window.
  table->setFrame({0, 0, 320, 180});
  auto rows = std::make_shared<RuleRows>();
  table->dataSource = rows;
  table->registerCell("Rule", [] { return std::make_shared<UITableViewCell>(); });
  list->view()->addSubview(table);
  table->reloadData();
  auto dots = std::make_shared<UIPageControl>();
  dots->setFrame({0, 186, 320, 30});
  dots->setNumberOfPages(3);
  list->view()->addSubview(dots);
  auto nav = UINavigationController::create(list);
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  window->layoutIfNeeded();

  auto image = Renderer::renderView(*window, 2);
  ASSERT_TRUE(image.ok());
  std::string folder = std::string(FENDREL_TEST_OUTPUT_DIR);
  ASSERT_TRUE(foundation::FileManager::defaultManager()
                  .createDirectory(folder, foundation::Intermediates::Yes)
                  .ok());
  ASSERT_TRUE(writePNG(**image, folder + "/navigation-screen.png").ok());

  // Probes in points; the image is at two pixels a point.
  auto in = [&](CGRect points) { return CGRect{points.minX() * 2, points.minY() * 2, points.width() * 2, points.height() * 2}; };
  auto dark = [](RGBA p) { return p.r < 100 && p.g < 100 && p.b < 100; };
  auto tinted = [](RGBA p) { return p.b > 200 && p.r < 100; };
  EXPECT_GT(pixelsWhere(**image, in({120, 24, 80, 36}), dark).first, 40) << "the title, centred in the bar";
  EXPECT_EQ(pixelsWhere(**image, in({0, 24, 110, 36}), dark).first, 0) << "no back button on the root";
  auto [addInk, addAt] = pixelsWhere(**image, in({240, 24, 80, 36}), tinted);
  EXPECT_GT(addInk, 20) << "the Add item in the tint colour at the right";
  EXPECT_TRUE(near(pixelAt(**image, 4, 2 * 70), {242, 242, 242, 255})) << "the section header's band";
  EXPECT_GT(pixelsWhere(**image, in({16, 64, 200, 28}), dark).first, 40) << "the header's title";
  EXPECT_GT(pixelsWhere(**image, in({16, 92, 200, 44}), dark).first, 40) << "the first row below it";
  // Three dots centred at 144, 160 and 176 points; the first page is current.
  EXPECT_TRUE(near(pixelAt(**image, 2 * 144, 2 * 265), {85, 85, 85, 255}));
  EXPECT_TRUE(near(pixelAt(**image, 2 * 160, 2 * 265), {170, 170, 170, 255}));
  EXPECT_TRUE(near(pixelAt(**image, 2 * 152, 2 * 265), kWhite));

  UIEventDriver::shared().tap({addAt.x / 2, addAt.y / 2});
  EXPECT_EQ(adds, 1) << "a tap where the item is drawn reaches it";
  TextMeasurer::setCurrent(nullptr);
  UIApplication::shared().reset();
}

TEST_F(RendererTests, FontMeasurerWrapsAndLimitsLines) {
  FontTextMeasurer measurer;
  UIFont font = UIFont::systemFont(17);
  CGSize one = measurer.measure("word", font, INFINITY, 1);
  CGSize two = measurer.measure("word word word word word word", font, one.width * 3, 0);
  CGSize cut = measurer.measure("word word word word word word", font, one.width * 3, 1);
  EXPECT_GT(one.width, 0);
  EXPECT_GT(one.height, 0);
  EXPECT_LE(two.width, one.width * 3);
  EXPECT_GE(two.height, 2 * one.height);
  EXPECT_EQ(cut.height, one.height);
  EXPECT_EQ(measurer.measure("", font, INFINITY, 0), (CGSize{0, 0}));
  // Installed, it sizes labels.
  TextMeasurer::setCurrent(std::make_shared<FontTextMeasurer>());
  UILabel label;
  label.setText("word");
  EXPECT_EQ(label.intrinsicContentSize(), one);
  TextMeasurer::setCurrent(nullptr);
}

/// The bands of rows that hold ink (anything clearly darker than white) inside `area` (pixels):
/// one band per text line drawn, for text whose letters do not reach below the baseline.
std::vector<std::pair<int, int>> inkBands(const UIImage& image, CGRect area) {
  std::vector<std::pair<int, int>> bands;
  for (int y = static_cast<int>(area.minY()); y < static_cast<int>(area.maxY()); ++y) {
    bool ink = false;
    for (int x = static_cast<int>(area.minX()); x < static_cast<int>(area.maxX()) && !ink; ++x) {
      RGBA p = pixelAt(image, x, y);
      ink = std::min({p.r, p.g, p.b}) < 160;
    }
    if (!ink) continue;
    if (!bands.empty() && bands.back().second == y - 1) {
      bands.back().second = y;
    } else {
      bands.push_back({y, y});
    }
  }
  return bands;
}

// A label given the size the font measurer gives it draws every line it was measured with, and
// a label cut by its line limit or its height draws only the lines that fit, all inside its
// bounds. Text without descenders, so each drawn line is one band of inked rows.
TEST_F(RendererTests, LabelsAtTheirMeasuredSizeDrawEveryLine) {
  TextMeasurer::setCurrent(std::make_shared<FontTextMeasurer>());
  const double wordsWide = FontTextMeasurer().measure("word word", UIFont::systemFont(14), INFINITY, 1).width;
  struct Case {
    const char* name;
    std::string text;
    UIFont font;
    int numberOfLines;
    double wrapWidth;  // preferredMaxLayoutWidth; 0: none
    int lines;         // lines drawn
    double height = 0;  // frame height instead of the measured one; 0: measured
  };
  const std::string sixWords = "word word word word word word";
  const Case cases[] = {
      {"one line", "word", UIFont::systemFont(17), 1, 0, 1},
      {"explicit newlines", "word\nword\nword", UIFont::systemFont(14), 0, 0, 3},
      {"wrapped at the preferred width", sixWords, UIFont::systemFont(14), 0, wordsWide + 4, 3},
      {"wrapped, odd size", sixWords, UIFont::systemFont(13.5), 0, wordsWide + 4, 3},
      {"wrapped, bold", sixWords, UIFont::boldSystemFont(11), 0, wordsWide, 3},
      {"newline and wrapping together", "word word word\nword", UIFont::systemFont(14), 0, wordsWide + 4, 3},
      {"emoji makes one line taller", "word \U0001F600\nword\nword", UIFont::systemFont(14), 0, 0, 3},
      {"line limit across paragraphs", "word\nword\nword\nword", UIFont::systemFont(14), 2, 0, 2},
      {"line limit inside a paragraph", sixWords, UIFont::systemFont(14), 2, wordsWide + 4, 2},
      {"one line with a newline", "word\nword", UIFont::systemFont(14), 1, 0, 1},
      {"height for two of three lines", "word\nword\nword", UIFont::systemFont(14), 0, 0, 2, 40},
      {"height below one line still shows one", "word\nword", UIFont::systemFont(14), 0, 0, 1, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto label = std::make_shared<UILabel>();
    label->setText(c.text);
    label->setFont(c.font);
    label->setNumberOfLines(c.numberOfLines);
    label->setPreferredMaxLayoutWidth(c.wrapWidth);
    label->textColor = UIColor(0, 0, 0);
    CGSize size = label->intrinsicContentSize();
    EXPECT_LE(size.width, c.wrapWidth > 0 ? c.wrapWidth : INFINITY);
    if (c.height > 0) size.height = c.height;
    // The label in the middle of a white root, so text drawn past its bounds would show.
    auto root = box({0, 0, size.width + 40, size.height + 80}, UIColor::whiteColor());
    label->setFrame({20, 40, size.width, size.height});
    root->addSubview(label);
    auto image = Renderer::renderView(*root, 2);
    ASSERT_TRUE(image.ok());
    const CGRect all{0, 0, 2 * root->bounds().width(), 2 * root->bounds().height()};
    auto bands = inkBands(**image, all);
    EXPECT_EQ(static_cast<int>(bands.size()), c.lines);
    ASSERT_FALSE(bands.empty());
    if (c.height == 0 || c.height >= 10) {  // a label lower than its one line lets it overflow
      EXPECT_GE(bands.front().first, 80) << "nothing above the label";
      EXPECT_LT(bands.back().second, 80 + 2 * size.height) << "nothing below it";
    }
  }
  TextMeasurer::setCurrent(nullptr);
}

// A switch draws a rounded track in its on or off colour with a white thumb at the matching
// end, at its own size centred in bounds of any size.
TEST_F(RendererTests, SwitchesDrawTheirTrackAndThumbByState) {
  struct Case {
    const char* name;
    bool on;
    std::optional<UIColor> onTint;
    UIUserInterfaceStyle style;
    CGRect frame;
    RGBA track;
  };
  const CGRect natural{10, 10, 51, 31};
  const Case cases[] = {
      {"off", false, std::nullopt, UIUserInterfaceStyle::Light, natural, {233, 233, 234, 255}},
      {"off in dark", false, std::nullopt, UIUserInterfaceStyle::Dark, natural, {57, 57, 61, 255}},
      {"on", true, std::nullopt, UIUserInterfaceStyle::Light, natural, {52, 199, 89, 255}},
      {"on with its tint", true, UIColor(0, 0, 1), UIUserInterfaceStyle::Light, natural, kBlue},
      {"larger bounds", true, std::nullopt, UIUserInterfaceStyle::Light, {10, 10, 91, 51}, {52, 199, 89, 255}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto root = box({0, 0, 120, 80}, UIColor::redColor());
    root->setOverrideUserInterfaceStyle(c.style);
    auto toggle = std::make_shared<UISwitch>();
    toggle->setFrame(c.frame);
    toggle->onTintColor = c.onTint;
    toggle->setOn(c.on);
    root->addSubview(toggle);
    auto image = Renderer::renderView(*root, 2);
    ASSERT_TRUE(image.ok());
    // The track's ends, where the thumb sits off and on; probes in pixels.
    const double x = c.frame.minX() + (c.frame.width() - 51) / 2, y = c.frame.minY() + (c.frame.height() - 31) / 2;
    const int left = static_cast<int>(2 * (x + 15.5)), right = static_cast<int>(2 * (x + 51 - 15.5));
    const int middle = static_cast<int>(2 * (y + 15.5));
    EXPECT_TRUE(near(pixelAt(**image, c.on ? right : left, middle), kWhite)) << "the thumb";
    EXPECT_TRUE(near(pixelAt(**image, c.on ? left : right, middle), c.track)) << "the track at the other end";
    EXPECT_TRUE(near(pixelAt(**image, static_cast<int>(2 * x) + 1, static_cast<int>(2 * y) + 1), kRed))
        << "the rounded corner leaves the background";
  }
}

/// Whether fontconfig offers a colour emoji font to Pango.
bool hasColourEmojiFont() {
  PangoFontFamily** families = nullptr;
  int count = 0;
  pango_font_map_list_families(pango_cairo_font_map_get_default(), &families, &count);
  bool found = false;
  for (int i = 0; i < count && !found; ++i) found = std::string(pango_font_family_get_name(families[i])) == "Noto Color Emoji";
  g_free(families);
  return found;
}

// Emoji come out in their own colours, whatever the label's text colour.
TEST_F(RendererTests, LabelsDrawEmojiInColour) {
  if (!hasColourEmojiFont()) GTEST_SKIP() << "no colour emoji font installed (Debian fonts-noto-color-emoji)";
  auto root = box({0, 0, 60, 40}, UIColor::whiteColor());
  auto label = std::make_shared<UILabel>();
  label->setFrame({10, 5, 40, 30});
  label->setText("\U0001F600");
  label->setFont(UIFont::systemFont(24));
  label->textColor = UIColor(0, 0, 0);
  root->addSubview(label);
  auto image = Renderer::renderView(*root, 2);
  ASSERT_TRUE(image.ok());
  auto coloured = [](RGBA p) { return std::max({p.r, p.g, p.b}) - std::min({p.r, p.g, p.b}) > 80; };
  EXPECT_GT(pixelsWhere(**image, {0, 0, 120, 80}, coloured).first, 100);
}

/// A 4 × 2 bitmap: left half red, right half blue, opaque.
std::shared_ptr<UIImage> halvesImage() {
  return UIGraphicsImageRenderer({4, 2}).image([](UIGraphicsImageRendererContext& c) {
    c.setFillColor(UIColor::redColor());
    c.fillRect({0, 0, 2, 2});
    c.setFillColor(UIColor(0, 0, 1));
    c.fillRect({2, 0, 2, 2});
  });
}

TEST_F(RendererTests, ImageViewsDrawImagesAndTintTemplates) {
  auto root = box({0, 0, 40, 20}, UIColor::whiteColor());
  auto plain = std::make_shared<UIImageView>();
  plain->setFrame({0, 0, 20, 20});
  plain->setImage(halvesImage());
  auto tinted = std::make_shared<UIImageView>();
  tinted->setFrame({20, 0, 20, 20});
  tinted->setImage(halvesImage()->imageWithRenderingMode(UIImageRenderingMode::AlwaysTemplate));
  tinted->setTintColor(UIColor(0, 1, 0));
  root->addSubview(plain);
  root->addSubview(tinted);
  auto image = Renderer::renderView(*root, 1);
  ASSERT_TRUE(image.ok());
  EXPECT_TRUE(near(pixelAt(**image, 3, 10), kRed));
  EXPECT_TRUE(near(pixelAt(**image, 17, 10), kBlue));
  EXPECT_TRUE(near(pixelAt(**image, 23, 10), kGreen));
  EXPECT_TRUE(near(pixelAt(**image, 37, 10), kGreen));
}

TEST_F(RendererTests, ImageViewsDrawTheFrameOfTheMomentDrawn) {
  auto filled = [](UIColor color) {
    return UIGraphicsImageRenderer({2, 2}).image([&](UIGraphicsImageRendererContext& c) {
      c.setFillColor(color);
      c.fillRect({0, 0, 2, 2});
    });
  };
  auto root = box({0, 0, 10, 10}, UIColor::whiteColor());
  auto view = std::make_shared<UIImageView>();
  view->setFrame({0, 0, 10, 10});
  view->setImage(filled(UIColor(0, 1, 0)));
  view->animationImages = {filled(UIColor::redColor()), filled(UIColor(0, 0, 1))};
  view->animationDuration = 1;
  view->animationRepeatCount = 1;
  root->addSubview(view);
  double start = CACurrentMediaTime();
  view->startAnimating();
  const std::pair<double, RGBA> cases[] = {{0.25, kRed}, {0.75, kBlue}, {1.5, kGreen}};
  for (const auto& [at, color] : cases) {
    SCOPED_TRACE(at);
    auto image = Renderer::renderView(*root, 1, start + at);
    ASSERT_TRUE(image.ok());
    EXPECT_TRUE(near(pixelAt(**image, 5, 5), color)) << "the image once the last repeat ends";
  }
}

TEST_F(RendererTests, ImageRendererFillsBandsAndTilesPatterns) {
  // A slanted band on a transparent tile, then tiled over a strip and cropped by pixels.
  UIGraphicsImageRenderer tileRenderer({12, 2}, 2);
  auto tile = tileRenderer.image([](UIGraphicsImageRendererContext& c) {
    UIBezierPath band;
    band.moveTo({0, 2});
    band.addLineTo({4, 0});
    band.addLineTo({10, 0});
    band.addLineTo({6, 2});
    band.addLineTo({0, 2});
    c.setFillColor(UIColor::redColor());
    c.fillPath(band);
  });
  ASSERT_TRUE(tile);
  EXPECT_EQ(tile->cgImage()->width, 24);
  EXPECT_EQ(pixelAt(*tile, 23, 1).a, 0);
  EXPECT_TRUE(near(pixelAt(*tile, 14, 1), kRed));

  auto strip = UIGraphicsImageRenderer({36, 2}, 2).image(
      [&](UIGraphicsImageRendererContext& c) { c.drawImageAsPattern(*tile, {0, 0, 36, 2}); });
  ASSERT_TRUE(strip);
  for (int k : {0, 1, 2}) EXPECT_EQ(strip->cgImage()->pixel(14 + 24 * k, 1), tile->cgImage()->pixel(14, 1));

  auto crop = CGImageCreateWithImageInRect(strip->cgImage(), {5, 0, 24, 4});
  ASSERT_TRUE(crop);
  EXPECT_EQ(crop->width, 24);
  EXPECT_EQ(crop->pixel(9, 1), strip->cgImage()->pixel(14, 1));
  EXPECT_EQ(CGImageCreateWithImageInRect(strip->cgImage(), {100, 0, 4, 4}), nullptr);
  EXPECT_EQ(CGImageCreateWithImageInRect(strip->cgImage(), {NAN, 0, 4, 4}), nullptr);
  EXPECT_EQ(UIGraphicsImageRenderer({0, 2}).image({}), nullptr);
  EXPECT_EQ(UIGraphicsImageRenderer({1e6, 1e6}).image({}), nullptr);
}

/// A JPEG of `image` with an EXIF segment carrying `orientation`, right after the start marker.
std::string jpegWithOrientation(const UIImage& image, int orientation) {
  const auto& bitmap = *image.cgImage();
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, bitmap.width, bitmap.height);
  for (int y = 0; y < bitmap.height; ++y)
    for (int x = 0; x < bitmap.width; ++x) {
      guchar* p = gdk_pixbuf_get_pixels(pixbuf) + y * gdk_pixbuf_get_rowstride(pixbuf) + x * 3;
      std::uint32_t v = bitmap.pixel(x, y);
      p[0] = v >> 16 & 255; p[1] = v >> 8 & 255; p[2] = v & 255;
    }
  gchar* buffer = nullptr;
  gsize size = 0;
  EXPECT_TRUE(gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "jpeg", nullptr, "quality", "100", nullptr));
  g_object_unref(pixbuf);
  std::string jpeg(buffer, size);
  g_free(buffer);
  // APP1 "Exif", big-endian TIFF header, one IFD with the orientation entry (tag 0x0112, SHORT).
  const unsigned char exif[] = {
      0xFF, 0xE1, 0x00, 0x22, 'E', 'x', 'i', 'f', 0, 0,
      'M', 'M', 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08,
      0x00, 0x01,
      0x01, 0x12, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, static_cast<unsigned char>(orientation), 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00};
  jpeg.insert(2, reinterpret_cast<const char*>(exif), sizeof exif);
  return jpeg;
}

TEST_F(RendererTests, DecodesPNGAndJPEGFilesUpright) {
  auto source = halvesImage();
  auto png = UIImagePNGRepresentation(*source);
  ASSERT_TRUE(png.ok());
  auto fromPNG = decodeImage(png->view(), 2);
  ASSERT_TRUE(fromPNG.ok());
  EXPECT_EQ((*fromPNG)->cgImage()->pixels, source->cgImage()->pixels);
  EXPECT_EQ((*fromPNG)->size(), (CGSize{2, 1}));

  // Orientation 6: the stored image is turned a quarter clockwise to be shown, so its left
  // (red) half becomes the top.
  auto turned = decodeImage(jpegWithOrientation(*source, 6));
  ASSERT_TRUE(turned.ok());
  EXPECT_EQ((*turned)->cgImage()->width, 2);
  EXPECT_EQ((*turned)->cgImage()->height, 4);
  EXPECT_TRUE(near(pixelAt(**turned, 0, 0), kRed, 60));
  EXPECT_TRUE(near(pixelAt(**turned, 1, 3), kBlue, 60));
  auto plain = decodeImage(jpegWithOrientation(*source, 1));
  ASSERT_TRUE(plain.ok());
  EXPECT_EQ((*plain)->cgImage()->width, 4);

  testing_support::TemporaryFolder folder;
  ASSERT_TRUE(writePNG(*source, folder.file("halves.png")).ok());
  auto read = readImageFile(folder.file("halves.png"));
  ASSERT_TRUE(read.ok());
  EXPECT_EQ((*read)->cgImage()->pixels, source->cgImage()->pixels);
}

std::uint32_t crc32Of(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

/// The signature and a valid header chunk of a PNG of the given size, then the start of an image
/// data chunk (which is where a decoder learns the size), and the end chunk when `ended`.
std::string pngHeader(std::uint32_t width, std::uint32_t height, bool ended) {
  auto be = [](std::uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
  };
  std::string chunk = "IHDR" + be(width) + be(height) + std::string("\x08\x06\x00\x00\x00", 5);
  std::string data = "IDAT" + std::string("\x78\x9c\x63\x00", 4);
  return std::string("\x89PNG\r\n\x1a\n", 8) + be(13) + chunk + be(crc32Of(chunk)) + be(4) + data +
         be(crc32Of(data)) + (ended ? be(0) + "IEND" + be(crc32Of("IEND")) : "");
}

/// `jpeg` with its frame header declaring 60000 × 60000 pixels.
std::string hugeJPEG(std::string jpeg) {
  std::size_t frame = jpeg.find("\xff\xc0");
  if (frame == std::string::npos) return {};
  for (std::size_t at : {frame + 5, frame + 7}) {
    jpeg[at] = static_cast<char>(60000 >> 8);
    jpeg[at + 1] = static_cast<char>(60000 & 255);
  }
  return jpeg;
}

TEST_F(RendererTests, RefusesBadImageFilesWithClearErrors) {
  auto png = UIImagePNGRepresentation(*halvesImage());
  ASSERT_TRUE(png.ok());
  std::string jpeg = jpegWithOrientation(*halvesImage(), 1);
  std::string withMarkerInHeader = std::string("\xff\xd8\xff\xe2\x00\x04\xff\xd9", 8) + jpeg.substr(2);
  ASSERT_TRUE(decodeImage(withMarkerInHeader).ok());
  struct Case {
    const char* name;
    std::string bytes;
    UIKitError code;
  } cases[] = {
      {"empty", "", UIKitError::ImageUnsupportedFormat},
      {"another format", "GIF89a\x01\x00\x01\x00", UIKitError::ImageUnsupportedFormat},
      {"truncated PNG", png->bytes().substr(0, png->size() / 2), UIKitError::ImageDecoding},
      {"PNG without data", pngHeader(4, 4, false), UIKitError::ImageDecoding},
      {"huge PNG", pngHeader(100000, 100000, true), UIKitError::ImageTooLarge},
      {"JPEG start only", std::string("\xff\xd8\xff\xe0\x00\x10", 6), UIKitError::ImageDecoding},
      {"truncated JPEG", jpeg.substr(0, jpeg.size() - 40), UIKitError::ImageDecoding},
      {"truncated JPEG with an end marker in a header segment", withMarkerInHeader.substr(0, jpeg.size() - 40),
       UIKitError::ImageDecoding},
      {"huge JPEG", hugeJPEG(jpeg), UIKitError::ImageTooLarge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto image = decodeImage(c.bytes);
    ASSERT_FALSE(image.ok());
    EXPECT_EQ(image.error().domain(), kUIKitErrorDomain);
    EXPECT_EQ(image.error().code(), static_cast<std::int64_t>(c.code));
  }
  EXPECT_FALSE(UIImagePNGRepresentation(*UIImage::create({4, 4})).ok());
  // A hand-made bitmap with fewer pixels than its size says is never read past its end.
  auto broken = std::make_shared<CGImage>();
  broken->width = broken->height = 4;
  broken->pixels.resize(3);
  EXPECT_FALSE(UIImagePNGRepresentation(*UIImage::createWithCGImage(broken)).ok());
  EXPECT_EQ(CGImageCreateWithImageInRect(broken, {0, 0, 2, 2}), nullptr);
  auto view = std::make_shared<UIImageView>();
  view->setFrame({0, 0, 4, 4});
  view->setImage(UIImage::createWithCGImage(broken));
  EXPECT_TRUE(Renderer::renderView(*view, 1).ok());
  EXPECT_FALSE(Renderer::renderView(*UIView::create({0, 0, 0, 10})).ok());
  testing_support::TemporaryFolder folder;
  EXPECT_FALSE(readImageFile(folder.file("missing.png")).ok());
}

// A field shows its placeholder in grey and its text in the label colour, with the selection
// behind it and a caret only while editing; a turning spinner is drawn where its rotation has
// turned it; a blur mixes what lies below it under its wash.
TEST_F(RendererTests, FieldsSpinnersAndBlursAreDrawn) {
  UIApplication::shared().reset();
  auto window = UIWindow::create({0, 0, 200, 200});
  window->setBackgroundColor(UIColor::whiteColor());
  window->makeKeyAndVisible();
  auto field = std::make_shared<UITextField>();
  field->setFrame({0, 0, 200, 40});
  field->placeholder = "example.com";
  window->addSubview(field);
  auto darkest = [](const UIImage& image, CGRect rect) {
    int least = 255 * 3;
    for (int y = static_cast<int>(rect.minY()); y < static_cast<int>(rect.maxY()); ++y)
      for (int x = static_cast<int>(rect.minX()); x < static_cast<int>(rect.maxX()); ++x) {
        RGBA p = pixelAt(image, x, y);
        least = std::min(least, p.r + p.g + p.b);
      }
    return least;
  };
  auto draw = [&] { return *Renderer::renderView(*window, 1); };
  const int placeholder = darkest(*draw(), {0, 0, 200, 40});
  EXPECT_LT(placeholder, 3 * 230);
  EXPECT_GT(placeholder, 3 * 120) << "a placeholder is grey, not black";
  field->setText("example.org");
  EXPECT_LT(darkest(*draw(), {0, 0, 200, 40}), 3 * 60);
  // The caret sits after the text while editing, in the tint.
  field->becomeFirstResponder();
  auto editing = draw();
  bool caret = false;
  for (int x = 60; x < 200 && !caret; ++x) caret = near(pixelAt(*editing, x, 20), {0, 122, 255, 255}, 40);
  EXPECT_TRUE(caret);
  field->selectAll();
  EXPECT_TRUE(near(pixelAt(*draw(), 5, 11), {178, 215, 255, 255}, 30)) << "the selection's wash above the letters";
  field->resignFirstResponder();
  field->removeFromSuperview();

  auto spinner = std::make_shared<UIActivityIndicatorView>(UIActivityIndicatorViewStyle::Large);
  spinner->setFrame({80, 80, 37, 37});
  window->addSubview(spinner);
  spinner->startAnimating();
  auto before = draw();
  clock_->advance(0.25);
  auto after = draw();
  int changed = 0;
  for (int y = 80; y < 117; ++y)
    for (int x = 80; x < 117; ++x) changed += !near(pixelAt(*before, x, y), pixelAt(*after, x, y), 30);
  EXPECT_LT(darkest(*before, {80, 80, 37, 37}), 3 * 160);
  EXPECT_GT(changed, 20) << "the spokes turned";
  spinner->stopAnimating();
  EXPECT_TRUE(spinner->layer()->animationKeys().empty());

  // Red and blue halves under a light blur: the seam turns purple, the far sides keep their hue.
  window->addSubview(box({0, 0, 100, 200}, UIColor::redColor()));
  window->addSubview(box({100, 0, 100, 200}, UIColor(0, 0, 1)));
  auto blur = std::make_shared<UIVisualEffectView>(UIBlurEffectStyle::Light);
  blur->setFrame({0, 0, 200, 200});
  window->addSubview(blur);
  auto blurred = draw();
  RGBA seam = pixelAt(*blurred, 100, 100), red = pixelAt(*blurred, 10, 100);
  EXPECT_GT(seam.r, 130);
  EXPECT_GT(seam.b, 130);
  EXPECT_GT(red.r, 230);
  EXPECT_LT(red.b, 180);
  UIApplication::shared().reset();
}

}  // namespace
}  // namespace uikit
