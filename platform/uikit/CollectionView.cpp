#include "platform/uikit/CollectionView.h"

#include <algorithm>
#include <cmath>

#include "platform/uikit/Log.h"

namespace uikit {

const std::shared_ptr<UIView>& UICollectionViewCell::contentView() {
  if (!content_) {
    content_ = UIView::create(bounds());
    content_->autoresizingMask = UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight;
    insertSubview(content_, 0);
  }
  return content_;
}

void UICollectionView::registerCell(const std::string& identifier, CellFactory factory) {
  reuse_.registerFactory(identifier, std::move(factory));
}

std::shared_ptr<UICollectionViewCell> UICollectionView::dequeueReusableCell(const std::string& identifier,
                                                                            const NSIndexPath& /*path*/) {
  auto cell = reuse_.dequeue(identifier);
  if (!cell && !reuse_.hasFactory(identifier)) {
    UIKitLog::write("could not dequeue a view of kind UICollectionElementKindCell with identifier " + identifier);
  }
  return cell;
}

CGRect UICollectionView::frameForItem(const NSIndexPath& path) const {
  CGFloat width = bounds().size.width;
  long perRow = std::max(1L, static_cast<long>(std::floor((width + minimumInteritemSpacing) /
                                                          (itemSize.width + minimumInteritemSpacing))));
  CGFloat y = 0;
  for (long s = 0; s < static_cast<long>(counts_.size()); ++s) {
    long rows = (counts_[s] + perRow - 1) / perRow;
    if (s == path.section) {
      long line = path.row / perRow, column = path.row % perRow;
      return {column * (itemSize.width + minimumInteritemSpacing), y + line * (itemSize.height + minimumLineSpacing),
              itemSize.width, itemSize.height};
    }
    y += rows * (itemSize.height + minimumLineSpacing);
  }
  return {};
}

void UICollectionView::reloadData() {
  if (!dataSource.expired()) loaded_ = true;
  visible_.recycleAll(reuse_);
  counts_.clear();
  auto source = dataSource.lock();
  if (!source) return;
  long sections = std::max(0L, source->numberOfSectionsInCollectionView(*this));
  for (long s = 0; s < sections; ++s) counts_.push_back(std::max(0L, source->numberOfItemsInSection(*this, s)));
  if (!counts_.empty() && counts_.back() > 0) {
    CGRect last = frameForItem({static_cast<long>(counts_.size()) - 1, counts_.back() - 1});
    contentSize = {bounds().size.width, last.origin.y + last.size.height};
  }
  layoutVisibleItems();
}

void UICollectionView::reloadItems(const std::vector<NSIndexPath>& paths) {
  visible_.recycle(paths, reuse_);
  layoutVisibleItems();
}

void UICollectionView::layoutVisibleItems() {
  auto source = dataSource.lock();
  if (!source) return;
  CGRect b = bounds();
  std::vector<std::pair<NSIndexPath, CGRect>> shown;
  for (long s = 0; s < static_cast<long>(counts_.size()); ++s)
    for (long i = 0; i < counts_[s]; ++i) {
      CGRect f = frameForItem({s, i});
      if (f.origin.y + f.size.height > b.origin.y && f.origin.y < b.origin.y + b.size.height) shown.push_back({{s, i}, f});
    }
  visible_.recycleAllBut(shown, reuse_);
  for (auto& [path, frame] : shown) {
    auto cell = cellForItemAtIndexPath(path);
    if (!cell) cell = source->cellForItemAtIndexPath(*this, path);
    if (!cell) continue;
    cell->setFrame(frame);
    if (cell->superviewPointer() != this) addSubview(cell);
    visible_.put(path, cell);
  }
}

void UICollectionView::layoutSubviews() {
  UIScrollView::layoutSubviews();
  // A collection shows its data from its first layout on, without waiting for a reload.
  if (!loaded_ && !dataSource.expired()) reloadData();
  if (!counts_.empty()) layoutVisibleItems();
}

std::shared_ptr<UICollectionViewCell> UICollectionView::cellForItemAtIndexPath(const NSIndexPath& path) const {
  return visible_.find(path);
}

std::vector<NSIndexPath> UICollectionView::indexPathsForVisibleItems() const {
  return visible_.paths();
}

}  // namespace uikit
