#include "TovelCommon/CachedImage.h"

#include "platform/foundation/URLCache.h"
#include "platform/foundation/URLRequest.h"
#include "platform/uikit/ImageDecoding.h"

namespace tovel {

namespace {
constexpr double kCachedImageTimeout = 60.0;
}  // namespace

std::optional<foundation::Data> cachedImageData(foundation::URLCache& cache, const foundation::URL& url) {
  foundation::URLRequest request(url, foundation::URLRequestCachePolicy::ReturnCacheDataDontLoad, kCachedImageTimeout);
  auto answer = cache.cachedResponse(request);
  if (!answer) return std::nullopt;
  return std::move(answer->data);
}

std::shared_ptr<uikit::UIImage> cachedImage(foundation::URLCache& cache, const foundation::URL& url) {
  auto data = cachedImageData(cache, url);
  if (!data) return nullptr;
  auto image = uikit::decodeImage(data->view(), 1.0);
  return image ? std::move(*image) : nullptr;
}

}  // namespace tovel
