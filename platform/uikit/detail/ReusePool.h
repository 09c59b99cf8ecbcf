#pragma once
// The registrations, the pool of reusable cells and the cells on screen that table and
// collection views share.

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace uikit::detail {

/// Cell makers by reuse identifier, and the cells that left the screen waiting to be reused.
template <class Cell>
class ReusePool {
 public:
  using Factory = std::function<std::shared_ptr<Cell>()>;

  void registerFactory(const std::string& identifier, Factory factory) {
    factories_[identifier] = std::move(factory);
  }
  bool hasFactory(const std::string& identifier) const { return factories_.count(identifier) != 0; }

  /// A waiting cell of `identifier`, told `prepareForReuse`, else a new one from its maker with
  /// the identifier set; null when nothing is registered for it or the maker makes nothing.
  std::shared_ptr<Cell> dequeue(const std::string& identifier) {
    auto& waiting = pool_[identifier];
    if (!waiting.empty()) {
      auto cell = waiting.back();
      waiting.pop_back();
      cell->prepareForReuse();
      return cell;
    }
    auto it = factories_.find(identifier);
    if (it == factories_.end()) return nullptr;
    auto cell = it->second();
    if (cell) cell->setReuseIdentifier(identifier);
    return cell;
  }

  /// Keeps a cell that left the screen for the next dequeue of its identifier.
  void recycle(std::shared_ptr<Cell> cell) {
    const std::string identifier = cell->reuseIdentifier();
    pool_[identifier].push_back(std::move(cell));
  }

 private:
  std::map<std::string, Factory> factories_;
  std::map<std::string, std::vector<std::shared_ptr<Cell>>> pool_;
};

/// The cells on screen by index path. A cell leaving the screen leaves its superview and waits in
/// the pool for reuse.
template <class Cell, class Path>
class OnScreenCells {
 public:
  std::shared_ptr<Cell> find(const Path& path) const {
    auto it = cells_.find(path);
    return it == cells_.end() ? nullptr : it->second;
  }
  std::vector<Path> paths() const {
    std::vector<Path> out;
    for (auto& entry : cells_) out.push_back(entry.first);
    return out;
  }
  const std::map<Path, std::shared_ptr<Cell>>& all() const { return cells_; }
  void put(const Path& path, std::shared_ptr<Cell> cell) { cells_[path] = std::move(cell); }

  void recycleAll(ReusePool<Cell>& pool) {
    for (auto& entry : cells_) leave(entry.second, pool);
    cells_.clear();
  }
  void recycle(const std::vector<Path>& paths, ReusePool<Cell>& pool) {
    for (auto& path : paths) {
      auto it = cells_.find(path);
      if (it == cells_.end()) continue;
      leave(it->second, pool);
      cells_.erase(it);
    }
  }
  /// Every cell whose path is not among `shown` (pairs of a path and anything) leaves.
  template <class Shown>
  void recycleAllBut(const Shown& shown, ReusePool<Cell>& pool) {
    for (auto it = cells_.begin(); it != cells_.end();) {
      bool stays = std::any_of(shown.begin(), shown.end(), [&](auto& entry) { return entry.first == it->first; });
      if (stays) {
        ++it;
        continue;
      }
      leave(it->second, pool);
      it = cells_.erase(it);
    }
  }

 private:
  static void leave(const std::shared_ptr<Cell>& cell, ReusePool<Cell>& pool) {
    cell->removeFromSuperview();
    pool.recycle(cell);
  }

  std::map<Path, std::shared_ptr<Cell>> cells_;
};

}  // namespace uikit::detail
