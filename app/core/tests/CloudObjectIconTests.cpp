#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>

#include "TovelCommon/CachedImage.h"
#include "TovelCommon/CommonQueue.h"
#include "TovelCommon/ImageUtilities.h"
#include "TovelCommon/URLCacheExtensions.h"
#include "TovelCommon/URLSessionExtensions.h"
#include "TovelCommon/tests/TestImages.h"
#include "app/core/CloudObject.h"
#include "app/core/tests/CoreTestSupport.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/URLCache.h"
#include "platform/foundation/URLSession.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Image.h"

namespace fendrel {
namespace {

using foundation::Data;
using foundation::URL;

TEST(IconCacheTest, NamesFromAnyIconAddressStayDirectlyInTheCacheFolder) {
  test_support::ScopedDeviceRoot root;
  const std::filesystem::path caches = root.cachesPath();
  struct Case {
    const char* name;
    std::string url;
    std::optional<std::string> expected;  ///< none: no cache file
  };
  const Case cases[] = {
      {"nested path", "https://cdn.example/img/a.png", "img_a.png"},
      {"one component", "https://cdn.example/a.png", "a.png"},
      {"query and fragment are not part of the name", "https://cdn.example/a.png?p=/../x#/..", "a.png"},
      {"doubled slashes add nothing", "https://cdn.example//etc//passwd", "etc_passwd"},
      {"encoded slashes stay encoded", "https://cdn.example/..%2F..%2Fetc%2Fpasswd", "..%2F..%2Fetc%2Fpasswd"},
      {"encoded dots are no parent", "https://cdn.example/%2E%2E", "%2E%2E"},
      {"file URL", "file:///etc/passwd", "etc_passwd"},
      {"root only", "https://cdn.example/", std::nullopt},
      {"no path", "https://cdn.example", std::nullopt},
      {"dot", "https://cdn.example/.", std::nullopt},
      {"dot dot", "https://cdn.example/..", std::nullopt},
      {"longer than a file name", "https://cdn.example/a/" + std::string(300, 'x'), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto iconUrl = URL::parse(c.url);
    ASSERT_TRUE(iconUrl);
    auto fileUrl = CloudObject::iconCacheURL(*iconUrl);
    EXPECT_EQ(fileUrl.has_value(), c.expected.has_value());
    if (!fileUrl || !c.expected) continue;
    EXPECT_EQ(CloudObject::iconCacheFileName(*iconUrl), c.expected);
    const std::filesystem::path path = fileUrl->path();
    EXPECT_EQ(path.lexically_normal().parent_path(), caches);
    EXPECT_EQ(path.filename().string(), *c.expected);
  }
}

TEST(IconCacheTest, NoContainerMeansNoIconFile) {
  test_support::ScopedDeviceRoot root(false);
  EXPECT_FALSE(CloudObject::iconCacheURL(*URL::parse("https://cdn.example/img/a.png")));
}

/// Fetches `url` through the shared session as the catalogue's rows do, and hands the result to
/// iconLoaded; returns the image the completion received, if it was called.
std::shared_ptr<uikit::UIImage> loadIcon(const URL& url, const URL& fileUrl, bool* completed) {
  std::atomic<bool> loaded = false;
  std::shared_ptr<uikit::UIImage> shown;
  *completed = false;
  auto task = tovel::dataTask(*foundation::URLSession::shared(), url,
                              foundation::URLRequestCachePolicy::UseProtocolCachePolicy, 60,
                              [&](foundation::Result<tovel::DataWithBaggage> result) {
                                CloudObject::iconLoaded(result, fileUrl, {40, 30},
                                                        [&](std::shared_ptr<uikit::UIImage> image) {
                                                          shown = std::move(image);
                                                          *completed = true;
                                                        });
                                loaded = true;
                              });
  task->resume();
  EXPECT_TRUE(test_support::pumpUntil([&] { return loaded.load(); }));
  // The thumbnail is decoded after the data task's completion; let it end.
  tovel::commonQueue()->sync([] {});
  dispatch::drainMainQueue();
  return shown;
}

TEST(IconCacheTest, IconsAreDownloadedCachedAndReadBackAfterARestart) {
  test_support::ScopedDeviceRoot root;
  const double previousScale = uikit::UIScreen::main().scale();
  uikit::UIScreen::main().setScale(2);
  tovel::setUpSharedURLCache();
  const Data png = tovel::test_support::halvesPNG(200, 100);
  auto server = std::make_unique<test_support::LoopbackServer>();
  server->setHandler([&png](const httplib::Request& request, httplib::Response& response) {
    if (request.path == "/icons/a.png") {
      response.set_content(png.bytes(), "image/png");
    } else {
      response.status = 404;
      response.set_content(png.bytes(), "image/png");
    }
  });
  const URL iconUrl = *URL::parse(server->url("/icons/a.png"));
  const URL missingUrl = *URL::parse(server->url("/icons/missing.png"));
  const URL iconFile = *CloudObject::iconCacheURL(iconUrl);
  const URL missingFile = *CloudObject::iconCacheURL(missingUrl);
  auto& files = foundation::FileManager::defaultManager();

  // 40 by 30 points at scale 2: the thumbnail's longer side has 80 pixels.
  bool completed = false;
  auto image = loadIcon(iconUrl, iconFile, &completed);
  ASSERT_TRUE(completed);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->size(), (uikit::CGSize{80, 40}));
  EXPECT_EQ(files.readFile(iconFile).value(), png);
  EXPECT_EQ(tovel::cachedImageData(*foundation::URLCache::shared(), iconUrl), png);
  ASSERT_TRUE(tovel::cachedImage(*foundation::URLCache::shared(), iconUrl));

  // A failed request writes nothing and never completes, even with an image for a body.
  image = loadIcon(missingUrl, missingFile, &completed);
  EXPECT_FALSE(completed);
  EXPECT_FALSE(files.fileExists(missingFile));

  // After a restart the URL cache is new and empty and the server is gone; the icon file the
  // screen reads is still there.
  server.reset();
  tovel::setUpSharedURLCache();
  EXPECT_FALSE(tovel::cachedImage(*foundation::URLCache::shared(), iconUrl));
  auto reread = files.readFile(*CloudObject::iconCacheURL(iconUrl));
  ASSERT_TRUE(reread);
  EXPECT_EQ(*reread, png);
  std::shared_ptr<uikit::UIImage> shown;
  tovel::downsample(*reread, {40, 30}, [&](std::shared_ptr<uikit::UIImage> decoded) { shown = std::move(decoded); });
  tovel::commonQueue()->sync([] {});
  dispatch::drainMainQueue();
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->size(), (uikit::CGSize{80, 40}));
  uikit::UIScreen::main().setScale(previousScale);
}

}  // namespace
}  // namespace fendrel
