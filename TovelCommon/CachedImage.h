#pragma once
#include <memory>
#include <optional>

#include "platform/foundation/Data.h"
#include "platform/foundation/URL.h"

namespace foundation {
class URLCache;
}
namespace uikit {
class UIImage;
}

namespace tovel {

/// The body `cache` keeps for a GET of `url`, read from the cache alone (nothing is loaded); none
/// when it keeps no answer for it.
std::optional<foundation::Data> cachedImageData(foundation::URLCache& cache, const foundation::URL& url);

/// The image made from the body `cache` keeps for `url` (PNG or JPEG, upright, at scale 1); null
/// when there is no cached answer or its body is not an image.
std::shared_ptr<uikit::UIImage> cachedImage(foundation::URLCache& cache, const foundation::URL& url);

}  // namespace tovel
