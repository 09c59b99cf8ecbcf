#include "app/screens/CatalogueIcon.h"

#include "TovelCommon/ImageUtilities.h"
#include "TovelCommon/URLSessionExtensions.h"
#include "platform/foundation/URLSession.h"
#include "platform/runtime/NSData.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/ImageView.h"

namespace fendrel {

namespace {
/// How long an icon fetch may take before it counts as failed.
constexpr double kIconTimeout = 60.0;
}  // namespace

void setCatalogueIcon(const CatalogueIconSlot& slot, std::shared_ptr<uikit::UIImage> image) {
  const bool shown = image != nullptr;
  if (slot.imageView) slot.imageView->setImage(std::move(image));
  if (!slot.spinner) return;
  if (shown) {
    slot.spinner->stopAnimating();
  } else {
    slot.spinner->startAnimating();
  }
}

void showCatalogueIcon(const CloudObject& entry, const std::shared_ptr<uikit::UITableView>& table,
                       const uikit::NSIndexPath& path, uikit::CGSize size, CatalogueIconSlotFinder slot) {
  std::weak_ptr<uikit::UITableView> weakTable = table;
  auto deliver = [weakTable, path, slot](std::shared_ptr<uikit::UIImage> image) {
    auto shownIn = weakTable.lock();
    auto cell = shownIn ? shownIn->cellForRowAtIndexPath(path) : nullptr;
    if (cell) setCatalogueIcon(slot(*cell), std::move(image));
  };

  const auto cacheURL = CloudObject::iconCacheURL(entry.iconUrl());
  if (cacheURL) {
    if (auto cached = runtime::NSData::dataWithContentsOfURL(*cacheURL, nullptr)) {
      tovel::downsample(std::move(*cached), size, deliver);
      return;
    }
  }
  auto task = tovel::dataTask(
      *foundation::URLSession::shared(), entry.iconUrl(), foundation::URLRequestCachePolicy::UseProtocolCachePolicy,
      kIconTimeout, [cacheURL, size, deliver](foundation::Result<tovel::DataWithBaggage> result) {
        if (cacheURL) {
          CloudObject::iconLoaded(result, *cacheURL, size, deliver);
        } else if (result) {
          tovel::downsample(result->data, size, deliver);
        }
      });
  task->resume();
}

}  // namespace fendrel
