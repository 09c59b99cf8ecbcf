#include "TovelCommon/ImageUtilities.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TovelCommon/CachedImage.h"
#include "TovelCommon/CommonQueue.h"
#include "TovelCommon/tests/TestImages.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/URLCache.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/View.h"

namespace tovel {
namespace {

/// A JPEG of `image` with an EXIF segment carrying `orientation` right after the start marker.
foundation::Data jpegWithOrientation(const uikit::UIImage& image, int orientation) {
  const auto& bitmap = *image.cgImage();
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, bitmap.width, bitmap.height);
  for (int y = 0; y < bitmap.height; ++y) {
    for (int x = 0; x < bitmap.width; ++x) {
      guchar* p = gdk_pixbuf_get_pixels(pixbuf) + y * gdk_pixbuf_get_rowstride(pixbuf) + x * 3;
      const std::uint32_t v = bitmap.pixel(x, y);
      p[0] = v >> 16 & 255;
      p[1] = v >> 8 & 255;
      p[2] = v & 255;
    }
  }
  gchar* buffer = nullptr;
  gsize size = 0;
  EXPECT_TRUE(gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "jpeg", nullptr, "quality", "100", nullptr));
  g_object_unref(pixbuf);
  std::string jpeg(buffer, size);
  g_free(buffer);
  // APP1 "Exif": a big-endian TIFF header and one IFD holding the orientation (tag 0x0112).
  const unsigned char exif[] = {0xFF, 0xE1, 0x00, 0x22, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0x00, 0x2A,
                                0x00, 0x00, 0x00, 0x08, 0x00, 0x01, 0x01, 0x12, 0x00, 0x03, 0x00, 0x00,
                                0x00, 0x01, 0x00, static_cast<unsigned char>(orientation), 0x00, 0x00,
                                0x00, 0x00, 0x00, 0x00};
  jpeg.insert(2, reinterpret_cast<const char*>(exif), sizeof exif);
  return foundation::Data(std::move(jpeg));
}

bool isRed(std::uint32_t pixel) { return (pixel >> 16 & 255) > 200 && (pixel & 255) < 60; }
bool isBlue(std::uint32_t pixel) { return (pixel & 255) > 200 && (pixel >> 16 & 255) < 60; }

class ImageUtilitiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dispatch::drainMainQueue();
    previousScale_ = uikit::UIScreen::main().scale();
    uikit::UIScreen::main().setScale(3);
  }
  void TearDown() override { uikit::UIScreen::main().setScale(previousScale_); }
  /// Lets every decoding posted so far end and runs the completions it queued.
  void settle() {
    commonQueue()->sync([] {});
    dispatch::drainMainQueue();
  }
  double previousScale_ = 0;
};

TEST_F(ImageUtilitiesTest, ThumbnailsFitTheTargetAtTheScreenScaleAndStandUpright) {
  auto halves = test_support::halvesImage(400, 200);
  struct Case {
    const char* name;
    foundation::Data data;
    uikit::CGSize target;
    uikit::CGSize expected;  ///< pixels, which are points at scale 1
  };
  const Case cases[] = {
      // 40 by 30 points at scale 3: the longer side may have 120 pixels.
      {"wide PNG", test_support::halvesPNG(400, 200), {40, 30}, {120, 60}},
      {"target turned round", test_support::halvesPNG(400, 200), {30, 40}, {120, 60}},
      {"never scaled up", test_support::halvesPNG(20, 10), {40, 30}, {20, 10}},
      {"JPEG turned upright", jpegWithOrientation(*halves, 6), {40, 30}, {60, 120}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::shared_ptr<uikit::UIImage> thumbnail;
    bool onMain = false;
    downsample(c.data, c.target, [&](std::shared_ptr<uikit::UIImage> image) {
      onMain = dispatch::isMainThread();
      thumbnail = std::move(image);
    });
    EXPECT_FALSE(thumbnail);  // nothing completes within the call
    settle();
    ASSERT_TRUE(thumbnail);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(thumbnail->scale(), 1.0);
    EXPECT_EQ(thumbnail->size(), c.expected);
  }

  // The stored image is turned a quarter clockwise to be shown: its red left half ends on top.
  auto upright = decodeThumbnail(jpegWithOrientation(*halves, 6), 120);
  ASSERT_TRUE(upright);
  EXPECT_TRUE(isRed(upright->cgImage()->pixel(30, 10)));
  EXPECT_TRUE(isBlue(upright->cgImage()->pixel(30, 110)));
}

TEST_F(ImageUtilitiesTest, RequestsCompleteInOrderAndNonImagesNever) {
  std::vector<int> done;
  auto record = [&](int id) { return [&done, id](std::shared_ptr<uikit::UIImage>) { done.push_back(id); }; };
  downsample(test_support::halvesPNG(300, 300), {10, 10}, record(1));
  downsample(foundation::Data(std::string("not an image")), {10, 10}, record(2));
  downsample(test_support::halvesPNG(8, 8), {10, 10}, record(3));
  downsample(test_support::halvesPNG(8, 8), {0, 0}, record(4));
  settle();
  EXPECT_EQ(done, (std::vector<int>{1, 3}));
}

TEST_F(ImageUtilitiesTest, CachedImageReadsOnlyWhatTheCacheKeeps) {
  auto cache = foundation::URLCache::create(1 << 20, 1 << 22);
  auto url = *foundation::URL::parse("http://127.0.0.1:9/icons/a.png");
  auto other = *foundation::URL::parse("http://127.0.0.1:9/icons/b.png");
  auto text = *foundation::URL::parse("http://127.0.0.1:9/icons/c.txt");
  const foundation::Data png = test_support::halvesPNG(6, 4);
  auto store = [&](const foundation::URL& u, foundation::Data body) {
    cache->storeCachedResponse(std::make_shared<foundation::HTTPURLResponse>(u, 200, foundation::HTTPHeaderFields{}),
                               std::move(body), foundation::URLRequest(u));
  };
  store(url, png);
  store(text, foundation::Data(std::string("text")));

  EXPECT_EQ(cachedImageData(*cache, url), png);
  auto image = cachedImage(*cache, url);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->size(), (uikit::CGSize{6, 4}));
  EXPECT_FALSE(cachedImageData(*cache, other));
  EXPECT_FALSE(cachedImage(*cache, other));
  EXPECT_TRUE(cachedImageData(*cache, text));
  EXPECT_FALSE(cachedImage(*cache, text));
}

TEST_F(ImageUtilitiesTest, PinningFillsTheOtherViewInsetInwards) {
  struct Case {
    const char* name;
    uikit::UIEdgeInsets insets;
    uikit::CGRect expected;
  };
  const Case cases[] = {
      {"no insets", {}, {0, 0, 300, 200}},
      {"insets", {8, 16, 8, 16}, {16, 8, 268, 184}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto container = uikit::UIView::create({0, 0, 300, 200});
    auto view = uikit::UIView::create();
    add(view, *container, c.insets);
    container->layoutIfNeeded();
    EXPECT_EQ(view->frame(), c.expected);
    EXPECT_FALSE(view->translatesAutoresizingMaskIntoConstraints());
    EXPECT_TRUE(container->translatesAutoresizingMaskIntoConstraints());
  }
}

TEST_F(ImageUtilitiesTest, InsertingPinsAboveOrBelowTheSibling) {
  auto container = uikit::UIView::create({0, 0, 100, 50});
  auto first = uikit::UIView::create();
  auto second = uikit::UIView::create();
  container->addSubview(first);
  container->addSubview(second);
  auto above = uikit::UIView::create();
  auto below = uikit::UIView::create();
  insertAbove(above, *container, *first);
  insertBelow(below, *container, *first);
  container->layoutIfNeeded();

  const std::vector<std::shared_ptr<uikit::UIView>> order{below, first, above, second};
  EXPECT_EQ(container->subviews(), order);
  EXPECT_EQ(above->frame(), (uikit::CGRect{0, 0, 100, 50}));
  EXPECT_EQ(below->frame(), (uikit::CGRect{0, 0, 100, 50}));
}

}  // namespace
}  // namespace tovel
