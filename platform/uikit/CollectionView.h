#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/uikit/ScrollView.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/detail/ReusePool.h"

namespace uikit {

/// An item of a collection view, reused by identifier like a table's cells.
class UICollectionViewCell : public UIView {
 public:
  std::string className() const override { return "UICollectionViewCell"; }
  const std::string& reuseIdentifier() const { return reuseIdentifier_; }
  void setReuseIdentifier(std::string identifier) { reuseIdentifier_ = std::move(identifier); }
  const std::shared_ptr<UIView>& contentView();
  virtual void prepareForReuse() {}

 private:
  std::string reuseIdentifier_;
  std::shared_ptr<UIView> content_;
};

class UICollectionView;

class UICollectionViewDataSource {
 public:
  virtual ~UICollectionViewDataSource() = default;
  virtual long numberOfSectionsInCollectionView(UICollectionView& /*view*/) { return 1; }
  virtual long numberOfItemsInSection(UICollectionView& view, long section) = 0;
  virtual std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(UICollectionView& view,
                                                                       const NSIndexPath& path) = 0;
};

/// Items of one size laid out in rows, top to bottom, section after section (a flow layout);
/// only the items in view have cells, and cells that leave the view are reused.
class UICollectionView : public UIScrollView {
 public:
  std::string className() const override { return "UICollectionView"; }
  std::weak_ptr<UICollectionViewDataSource> dataSource;
  CGSize itemSize{50, 50};
  CGFloat minimumInteritemSpacing = 10;
  CGFloat minimumLineSpacing = 10;

  using CellFactory = std::function<std::shared_ptr<UICollectionViewCell>()>;
  void registerCell(const std::string& identifier, CellFactory factory);
  /// A pooled cell (after prepareForReuse) or a new one; null (logged) when nobody registered
  /// `identifier`.
  std::shared_ptr<UICollectionViewCell> dequeueReusableCell(const std::string& identifier, const NSIndexPath& path);
  void reloadData();
  void reloadItems(const std::vector<NSIndexPath>& paths);
  /// Item paths are `row` = item index.
  std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(const NSIndexPath& path) const;
  std::vector<NSIndexPath> indexPathsForVisibleItems() const;
  CGRect frameForItem(const NSIndexPath& path) const;
  void layoutSubviews() override;

 private:
  void layoutVisibleItems();
  detail::ReusePool<UICollectionViewCell> reuse_;
  // Set by the first reload: until then the first layout asks the data source.
  bool loaded_ = false;
  detail::OnScreenCells<UICollectionViewCell, NSIndexPath> visible_;
  std::vector<long> counts_;
};

}  // namespace uikit
