#include <string>

#include "TovelCommon/DataExtensions.h"
#include "TovelCommon/ImageUtilities.h"
#include "app/core/CloudObject.h"
#include "platform/foundation/DeviceRoot.h"

namespace fendrel {

namespace {
/// The longest file name Linux file systems take (NAME_MAX).
constexpr std::size_t kMaxFileNameBytes = 255;
}  // namespace

std::optional<std::string> CloudObject::iconCacheFileName(const foundation::URL& iconUrl) {
  // The encoded path keeps "%2F" as it is, so a decoded slash never becomes a separator; empty
  // components (the root, "//") add nothing.
  const std::string path = iconUrl.percentEncodedPath();
  std::string name;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      if (!name.empty()) name += '_';
      name.append(path, start, end - start);
    }
    start = end + 1;
  }
  if (!foundation::DeviceRoot::isPlainName(name) || name.size() > kMaxFileNameBytes) return std::nullopt;
  return name;
}

std::optional<foundation::URL> CloudObject::iconCacheURL(const foundation::URL& iconUrl) {
  auto name = iconCacheFileName(iconUrl);
  if (!name) return std::nullopt;
  auto folder = cachesFolderURL();
  auto url = cachesURL(*name);
  if (!url || !folder) return std::nullopt;
  // Checked on the joined result, so that no name can reach outside the cache folder whatever
  // the joining does with it.
  if (url->deletingLastPathComponent().path() != folder->path() || url->lastPathComponent() != *name) {
    return std::nullopt;
  }
  return url;
}

void CloudObject::iconLoaded(const foundation::Result<tovel::DataWithBaggage>& result,
                             const foundation::URL& iconFileURL, const uikit::CGSize& size,
                             std::function<void(std::shared_ptr<uikit::UIImage>)> completion) {
  if (!result) return;
  (void)tovel::writeToFile(result->data, iconFileURL);
  tovel::downsample(result->data, size, std::move(completion));
}

}  // namespace fendrel
