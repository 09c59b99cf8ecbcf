#pragma once
// The registrations and the pool of reusable cells that table and collection views share.

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

}  // namespace uikit::detail
