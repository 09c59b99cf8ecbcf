#pragma once
#include <functional>
#include <memory>

#include "app/core/CloudObject.h"
#include "platform/uikit/TableView.h"

namespace uikit {
class UIImageView;
class UIActivityIndicatorView;
}  // namespace uikit

namespace fendrel {

/// Where a cell shows a catalogue icon: its image view and the spinner that runs until the image
/// is there.
struct CatalogueIconSlot {
  std::shared_ptr<uikit::UIImageView> imageView;
  std::shared_ptr<uikit::UIActivityIndicatorView> spinner;
};

/// Picks the icon slot out of the cell a table shows at a row; an empty slot when it has none.
using CatalogueIconSlotFinder = std::function<CatalogueIconSlot(uikit::UITableViewCell& cell)>;

/// Shows the icon of `entry` in the cell that `table` shows at `path` once the icon is there: a
/// thumbnail at `size` of the cached file when it can be read, else of the icon fetched from its
/// URL (and cached through CloudObject::iconLoaded; a failed fetch leaves the spinner running).
/// The cache file is the one CloudObject::iconCacheURL names, inside the caches folder whatever
/// the URL holds; without one (no container, a path that makes no file name) nothing is read or
/// written, and the icon is fetched each time. The image goes into the cell found at that row
/// when it arrives, so a row that scrolled away gets nothing. Main thread only.
void showCatalogueIcon(const CloudObject& entry, const std::shared_ptr<uikit::UITableView>& table,
                       const uikit::NSIndexPath& path, uikit::CGSize size, CatalogueIconSlotFinder slot);

/// Sets an icon into a slot: an image stops the spinner, none starts it.
void setCatalogueIcon(const CatalogueIconSlot& slot, std::shared_ptr<uikit::UIImage> image);

}  // namespace fendrel
