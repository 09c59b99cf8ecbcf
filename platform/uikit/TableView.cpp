#include "platform/uikit/TableView.h"

#include <algorithm>

#include "platform/uikit/Log.h"

RUNTIME_CLASS(uikit::UITableView, uikit::UIScrollView, "UITableView");
RUNTIME_CLASS(uikit::UITableViewCell, uikit::UIView, "UITableViewCell");

namespace uikit {

UITableViewCell::UITableViewCell(std::string reuseIdentifier) : reuseIdentifier_(std::move(reuseIdentifier)) {}

const std::shared_ptr<UIView>& UITableViewCell::contentView() {
  if (!content_) {
    content_ = UIView::create(bounds());
    content_->autoresizingMask = UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight;
    insertSubview(content_, 0);
  }
  return content_;
}

const std::shared_ptr<UILabel>& UITableViewCell::textLabel() {
  if (!textLabel_) {
    textLabel_ = std::make_shared<UILabel>();
    contentView()->addSubview(textLabel_);
  }
  return textLabel_;
}

void UITableViewCell::setSelected(bool selected, bool /*animated*/) { selected_ = selected; }

void UITableViewCell::layoutSubviews() {
  UIView::layoutSubviews();
  if (content_) content_->setFrame(bounds());
  if (textLabel_) {
    CGRect b = bounds();
    textLabel_->setFrame({16, 0, std::max<CGFloat>(0, b.size.width - 32), b.size.height});
  }
}

UITableViewHeaderFooterView::UITableViewHeaderFooterView() : textLabel_(std::make_shared<UILabel>()) {
  setBackgroundColor(UIColor::white(0.95));
  textLabel_->setFont(UIFont::boldSystemFont(15));
  textLabel_->textColor = UIColor::darkGrayColor();
  textLabel_->setUserInteractionEnabled(false);
  addSubview(textLabel_);
}

std::shared_ptr<UITableViewHeaderFooterView> UITableViewHeaderFooterView::footer() {
  auto view = std::make_shared<UITableViewHeaderFooterView>();
  view->setBackgroundColor(std::nullopt);
  view->textLabel_->setFont(UIFont::systemFont(13));
  view->textLabel_->textColor = UIColor::grayColor();
  return view;
}

void UITableViewHeaderFooterView::layoutSubviews() {
  UIView::layoutSubviews();
  CGRect b = bounds();
  textLabel_->setFrame({16, 0, std::max<CGFloat>(0, b.size.width - 32), b.size.height});
}

void UITableView::registerCell(const std::string& identifier, CellFactory factory) {
  reuse_.registerFactory(identifier, std::move(factory));
}

std::shared_ptr<UITableViewCell> UITableView::dequeueReusableCell(const std::string& identifier,
                                                                  const NSIndexPath& /*path*/) {
  auto cell = reuse_.dequeue(identifier);
  if (!cell && !reuse_.hasFactory(identifier)) {
    UIKitLog::write("unable to dequeue a cell with identifier " + identifier +
                    " - must register a nib or a class for the identifier");
  }
  return cell;
}

long UITableView::numberOfRowsInSection(long section) const {
  return section >= 0 && section < numberOfSections() ? static_cast<long>(rows_[section].size()) : 0;
}

double UITableView::heightFor(const NSIndexPath& path) {
  double h = -1;
  if (auto d = tableDelegate.lock()) h = d->heightForRowAtIndexPath(*this, path);
  if (h < 0) h = rowHeight >= 0 ? rowHeight : estimatedRowHeight;
  return h;
}

void UITableView::reloadData() {
  auto source = dataSource.lock();
  if (source) loaded_ = true;
  visible_.recycleAll(reuse_);
  rows_.clear();
  headers_.clear();
  for (auto& header : headerViews_)
    if (header) header->removeFromSuperview();
  for (auto& footer : footerViews_)
    if (footer) footer->removeFromSuperview();
  headerViews_.clear();
  headerHeights_.clear();
  footers_.clear();
  footerViews_.clear();
  footerHeights_.clear();
  if (!source) return;
  auto delegate = tableDelegate.lock();
  long sections = std::max(0L, source->numberOfSectionsInTableView(*this));
  for (long s = 0; s < sections; ++s) {
    long count = std::max(0L, source->numberOfRowsInSection(*this, s));
    rows_.emplace_back();
    for (long r = 0; r < count; ++r) rows_.back().push_back(heightFor({s, r}));
    headers_.push_back(source->titleForHeaderInSection(*this, s));
    std::shared_ptr<UIView> header = delegate ? delegate->viewForHeaderInSection(*this, s) : nullptr;
    if (!header && headers_.back()) {
      auto titled = std::make_shared<UITableViewHeaderFooterView>();
      titled->textLabel()->setText(*headers_.back());
      header = titled;
    }
    double height = delegate ? delegate->heightForHeaderInSection(*this, s) : -1;
    if (!(height >= 0)) height = header ? kDefaultHeaderHeight : 0;
    headerViews_.push_back(height > 0 ? header : nullptr);
    headerHeights_.push_back(height);
    footers_.push_back(source->titleForFooterInSection(*this, s));
    std::shared_ptr<UITableViewHeaderFooterView> footer;
    if (footers_.back()) {
      footer = UITableViewHeaderFooterView::footer();
      footer->textLabel()->setText(*footers_.back());
    }
    footerViews_.push_back(footer);
    footerHeights_.push_back(footer ? kDefaultFooterHeight : 0);
  }
  double total = 0;
  for (std::size_t s = 0; s < rows_.size(); ++s) {
    total += headerHeights_[s] + footerHeights_[s];
    for (double h : rows_[s]) total += h;
  }
  contentSize = {bounds().size.width, total};
  layoutVisibleRows();
}

void UITableView::reloadSections(const std::vector<long>& /*sections*/, int /*rowAnimation*/) { reloadData(); }

void UITableView::reloadRows(const std::vector<NSIndexPath>& paths, int /*rowAnimation*/) {
  visible_.recycle(paths, reuse_);
  layoutVisibleRows();
}

CGRect UITableView::rectForRowAtIndexPath(const NSIndexPath& path) const {
  double y = 0;
  for (long s = 0; s < numberOfSections(); ++s) {
    y += headerHeights_[s];
    for (long r = 0; r < numberOfRowsInSection(s); ++r) {
      if (s == path.section && r == path.row) return {0, y, bounds().size.width, rows_[s][r]};
      y += rows_[s][r];
    }
    y += footerHeights_[s];
  }
  return {};
}

CGRect UITableView::rectForHeaderInSection(long section) const {
  double y = 0;
  for (long s = 0; s < numberOfSections(); ++s) {
    if (s == section) return {0, y, bounds().size.width, headerHeights_[s]};
    y += headerHeights_[s];
    for (double h : rows_[s]) y += h;
    y += footerHeights_[s];
  }
  return {};
}

CGRect UITableView::rectForFooterInSection(long section) const {
  double y = 0;
  for (long s = 0; s < numberOfSections(); ++s) {
    y += headerHeights_[s];
    for (double h : rows_[s]) y += h;
    if (s == section) return {0, y, bounds().size.width, footerHeights_[s]};
    y += footerHeights_[s];
  }
  return {};
}

std::shared_ptr<UIView> UITableView::footerViewForSection(long section) const {
  return section >= 0 && section < static_cast<long>(footerViews_.size()) ? footerViews_[section] : nullptr;
}

std::optional<std::string> UITableView::footerTitle(long section) const {
  return section >= 0 && section < static_cast<long>(footers_.size()) ? footers_[section] : std::nullopt;
}

std::shared_ptr<UIView> UITableView::headerViewForSection(long section) const {
  return section >= 0 && section < static_cast<long>(headerViews_.size()) ? headerViews_[section] : nullptr;
}

void UITableView::layoutVisibleRows() {
  auto source = dataSource.lock();
  if (!source || reloading_) return;
  reloading_ = true;
  CGRect b = bounds();
  // The rows in view, with their frames.
  std::vector<std::pair<NSIndexPath, CGRect>> shown;
  auto inView = [&](double top, double h) { return top + h > b.origin.y && top < b.origin.y + b.size.height; };
  // A section's header and footer are in view like rows, or out of the table.
  auto place = [&](const std::shared_ptr<UIView>& view, double top, double h) {
    if (!view) return;
    if (inView(top, h)) {
      view->setFrame({0, top, b.size.width, h});
      if (view->superviewPointer() != this) addSubview(view);
    } else if (view->superviewPointer() == this) {
      view->removeFromSuperview();
    }
  };
  double y = 0;
  for (long s = 0; s < numberOfSections(); ++s) {
    place(headerViews_[s], y, headerHeights_[s]);
    y += headerHeights_[s];
    for (long r = 0; r < numberOfRowsInSection(s); ++r) {
      double h = rows_[s][r];
      if (inView(y, h)) shown.push_back({{s, r}, {0, y, b.size.width, h}});
      y += h;
    }
    place(footerViews_[s], y, footerHeights_[s]);
    y += footerHeights_[s];
  }
  // Cells that left the view go to the pool first, so the rows coming in can reuse them.
  visible_.recycleAllBut(shown, reuse_);
  for (auto& [path, frame] : shown) {
    auto cell = cellForRowAtIndexPath(path);
    if (!cell) cell = source->cellForRowAtIndexPath(*this, path);
    if (!cell) continue;
    cell->setFrame(frame);
    cell->setSelected(selected_ && *selected_ == path, false);
    if (cell->superviewPointer() != this) addSubview(cell);
    visible_.put(path, cell);
  }
  reloading_ = false;
}

void UITableView::layoutSubviews() {
  UIScrollView::layoutSubviews();
  // A table shows its data from its first layout on, without waiting for a reload.
  if (!loaded_ && !dataSource.expired()) reloadData();
  if (!rows_.empty()) layoutVisibleRows();
}

std::shared_ptr<UITableViewCell> UITableView::cellForRowAtIndexPath(const NSIndexPath& path) const {
  return visible_.find(path);
}

std::vector<NSIndexPath> UITableView::indexPathsForVisibleRows() const {
  return visible_.paths();
}

void UITableView::selectRowAtIndexPath(const NSIndexPath& path, bool animated) {
  if (selected_)
    if (auto old = cellForRowAtIndexPath(*selected_)) old->setSelected(false, animated);
  selected_ = path;
  if (auto cell = cellForRowAtIndexPath(path)) cell->setSelected(true, animated);
}

void UITableView::deselectRowAtIndexPath(const NSIndexPath& path, bool animated) {
  if (!selected_ || !(*selected_ == path)) return;
  selected_.reset();
  if (auto cell = cellForRowAtIndexPath(path)) cell->setSelected(false, animated);
}

std::optional<std::string> UITableView::headerTitle(long section) const {
  return section >= 0 && section < static_cast<long>(headers_.size()) ? headers_[section] : std::nullopt;
}

bool UITableView::handleUnclaimedTap(UIView& origin) {
  for (auto& [path, cell] : visible_.all()) {
    if (origin.isDescendantOfView(cell.get())) {
      NSIndexPath p = path;
      selectRowAtIndexPath(p, false);
      if (auto d = tableDelegate.lock()) d->didSelectRowAtIndexPath(*this, p);
      return true;
    }
  }
  return false;
}

}  // namespace uikit
