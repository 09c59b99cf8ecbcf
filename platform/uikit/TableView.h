#pragma once
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uikit/Label.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/detail/ReusePool.h"

namespace uikit {

struct NSIndexPath {
  long section = 0;
  long row = 0;
  friend bool operator==(const NSIndexPath&, const NSIndexPath&) = default;
  friend auto operator<=>(const NSIndexPath&, const NSIndexPath&) = default;
};

/// A row of a table: a content view with a text label, reused by identifier.
class UITableViewCell : public UIView {
 public:
  explicit UITableViewCell(std::string reuseIdentifier = {});
  std::string className() const override { return "UITableViewCell"; }
  const std::string& reuseIdentifier() const { return reuseIdentifier_; }
  void setReuseIdentifier(std::string identifier) { reuseIdentifier_ = std::move(identifier); }
  const std::shared_ptr<UIView>& contentView();
  const std::shared_ptr<UILabel>& textLabel();
  bool isSelected() const { return selected_; }
  virtual void setSelected(bool selected, bool animated);
  /// Called when the table takes the cell out of its reuse pool for another row.
  virtual void prepareForReuse() {}
  void layoutSubviews() override;

 private:
  std::string reuseIdentifier_;
  std::shared_ptr<UIView> content_;
  std::shared_ptr<UILabel> textLabel_;
  bool selected_ = false;
};

/// The header of a section showing a title.
class UITableViewHeaderFooterView : public UIView {
 public:
  UITableViewHeaderFooterView();
  /// A footer's look: small regular grey text on no background.
  static std::shared_ptr<UITableViewHeaderFooterView> footer();
  std::string className() const override { return "UITableViewHeaderFooterView"; }
  const std::shared_ptr<UILabel>& textLabel() const { return textLabel_; }
  void layoutSubviews() override;

 private:
  std::shared_ptr<UILabel> textLabel_;
};

class UITableView;

class UITableViewDataSource {
 public:
  virtual ~UITableViewDataSource() = default;
  virtual long numberOfSectionsInTableView(UITableView& /*table*/) { return 1; }
  virtual long numberOfRowsInSection(UITableView& table, long section) = 0;
  virtual std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& table, const NSIndexPath& path) = 0;
  virtual std::optional<std::string> titleForHeaderInSection(UITableView& /*table*/, long /*section*/) {
    return std::nullopt;
  }
  virtual std::optional<std::string> titleForFooterInSection(UITableView& /*table*/, long /*section*/) {
    return std::nullopt;
  }
};

class UITableViewDelegate : public UIScrollViewDelegate {
 public:
  /// UITableViewAutomaticDimension (-1): the table's rowHeight.
  virtual double heightForRowAtIndexPath(UITableView& /*table*/, const NSIndexPath& /*path*/) { return -1; }
  virtual void didSelectRowAtIndexPath(UITableView& /*table*/, const NSIndexPath& /*path*/) {}
  /// A view for the section's header in place of its title (null: the title, if any).
  virtual std::shared_ptr<UIView> viewForHeaderInSection(UITableView& /*table*/, long /*section*/) { return nullptr; }
  /// UITableViewAutomaticDimension (-1): 28 points for a header, none without one.
  virtual double heightForHeaderInSection(UITableView& /*table*/, long /*section*/) { return -1; }
};
inline constexpr double UITableViewAutomaticDimension = -1;

/// Rows in sections, shown by cells made for the visible rows only; cells that scroll out go to
/// a pool by reuse identifier and come back, after prepareForReuse, for other rows.
class UITableView : public UIScrollView {
 public:
  std::string className() const override { return "UITableView"; }
  std::weak_ptr<UITableViewDataSource> dataSource;
  std::weak_ptr<UITableViewDelegate> tableDelegate;
  double rowHeight = 44;
  double estimatedRowHeight = 44;

  using CellFactory = std::function<std::shared_ptr<UITableViewCell>()>;
  /// Cells for `identifier` are made by `factory` (a class or a storyboard prototype).
  void registerCell(const std::string& identifier, CellFactory factory);
  bool hasCellFor(const std::string& identifier) const { return reuse_.hasFactory(identifier); }
  /// A cell from the pool (after prepareForReuse) or a new one; null (logged) for an identifier
  /// nobody registered.
  std::shared_ptr<UITableViewCell> dequeueReusableCell(const std::string& identifier, const NSIndexPath& path);

  void reloadData();
  /// Row animations are not drawn; the sections reload at once.
  void reloadSections(const std::vector<long>& sections, int rowAnimation = 0);
  void reloadRows(const std::vector<NSIndexPath>& paths, int rowAnimation = 0);
  long numberOfSections() const { return static_cast<long>(rows_.size()); }
  long numberOfRowsInSection(long section) const;
  /// The cell showing `path`, or null when that row is not visible.
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const NSIndexPath& path) const;
  std::vector<NSIndexPath> indexPathsForVisibleRows() const;
  CGRect rectForRowAtIndexPath(const NSIndexPath& path) const;
  std::optional<NSIndexPath> indexPathForSelectedRow() const { return selected_; }
  void selectRowAtIndexPath(const NSIndexPath& path, bool animated);
  void deselectRowAtIndexPath(const NSIndexPath& path, bool animated);
  std::optional<std::string> headerTitle(long section) const;
  /// The view heading `section` (its title or the delegate's view), or null when it has none.
  std::shared_ptr<UIView> headerViewForSection(long section) const;
  CGRect rectForHeaderInSection(long section) const;
  std::optional<std::string> footerTitle(long section) const;
  /// The view showing `section`'s footer title below its rows, or null when it has none.
  std::shared_ptr<UIView> footerViewForSection(long section) const;
  CGRect rectForFooterInSection(long section) const;
  /// Headers above their rows and titled footers below them, in points.
  static constexpr double kDefaultHeaderHeight = 28;
  static constexpr double kDefaultFooterHeight = 28;

  bool handleUnclaimedTap(UIView& origin) override;
  void layoutSubviews() override;

 private:
  void layoutVisibleRows();
  double heightFor(const NSIndexPath& path);
  detail::ReusePool<UITableViewCell> reuse_;
  detail::OnScreenCells<UITableViewCell, NSIndexPath> visible_;
  std::vector<std::vector<double>> rows_;  // heights by section and row
  std::vector<std::optional<std::string>> headers_;
  std::vector<std::shared_ptr<UIView>> headerViews_;  // by section; null for none
  std::vector<double> headerHeights_;
  std::vector<std::optional<std::string>> footers_;
  std::vector<std::shared_ptr<UIView>> footerViews_;  // by section; null for none
  std::vector<double> footerHeights_;
  std::optional<NSIndexPath> selected_;
  bool reloading_ = false;
  // Set by the first reload: until then the first layout asks the data source.
  bool loaded_ = false;
};

}  // namespace uikit
