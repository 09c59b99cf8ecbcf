#include "platform/foundation/URLCache.h"

#include <algorithm>
#include <list>
#include <mutex>
#include <unordered_map>

namespace foundation {

namespace {

// The platform's defaults for the shared cache of an app that sets up none.
constexpr std::int64_t kDefaultMemoryCapacity = 512 * 1024;
constexpr std::int64_t kDefaultDiskCapacity = 10 * 1024 * 1024;

struct Entry {
  CachedURLResponse answer;
  std::int64_t cost = 0;
};

/// Counts what an entry holds, so that entries with an empty body still take room and a cache
/// cannot grow without bound on them.
std::int64_t costOf(const URLResponse& response, const Data& data) {
  std::size_t cost = data.size() + response.url().absoluteString().size();
  if (auto http = dynamic_cast<const HTTPURLResponse*>(&response)) {
    for (const auto& [name, value] : http->allHeaderFields()) cost += name.size() + value.size();
  }
  return static_cast<std::int64_t>(cost);
}

/// One tier: entries by key with least-recently-used eviction under a capacity in bytes. Entries
/// are shared between the tiers, so a body held by both is held once.
class Tier {
 public:
  explicit Tier(std::int64_t capacity) : capacity_(std::max<std::int64_t>(capacity, 0)) {}

  std::int64_t capacity() const { return capacity_; }
  std::int64_t usage() const { return usage_; }

  std::shared_ptr<const Entry> find(const std::string& key) {
    auto found = slots_.find(key);
    if (found == slots_.end()) return nullptr;
    order_.splice(order_.begin(), order_, found->second.position);
    return found->second.entry;
  }

  /// Replaces any entry under `key`; an entry larger than the capacity only removes the old one.
  void put(const std::string& key, std::shared_ptr<const Entry> entry) {
    remove(key);
    if (entry->cost > capacity_) return;
    while (usage_ + entry->cost > capacity_ && !order_.empty()) remove(order_.back());
    order_.push_front(key);
    usage_ += entry->cost;
    slots_.emplace(key, Slot{std::move(entry), order_.begin()});
  }

  void remove(const std::string& key) {
    auto found = slots_.find(key);
    if (found == slots_.end()) return;
    usage_ -= found->second.entry->cost;
    order_.erase(found->second.position);
    slots_.erase(found);
  }

  void clear() {
    slots_.clear();
    order_.clear();
    usage_ = 0;
  }

 private:
  struct Slot {
    std::shared_ptr<const Entry> entry;
    std::list<std::string>::iterator position;
  };
  const std::int64_t capacity_;
  std::int64_t usage_ = 0;
  std::list<std::string> order_;  ///< most recently used first
  std::unordered_map<std::string, Slot> slots_;
};

std::optional<std::string> keyFor(const URLRequest& request) {
  if (request.httpMethod() != "GET") return std::nullopt;
  return request.url().absoluteString();
}

std::mutex sharedMutex;
std::shared_ptr<URLCache>* sharedCache = nullptr;  // set on first use, never destroyed

}  // namespace

struct URLCache::State {
  State(std::int64_t memoryCapacity, std::int64_t diskCapacity) : memory(memoryCapacity), disk(diskCapacity) {}
  mutable std::mutex mutex;
  Tier memory;
  Tier disk;
};

URLCache::URLCache(std::int64_t memoryCapacity, std::int64_t diskCapacity, std::optional<std::string> diskPath)
    : diskPath_(std::move(diskPath)), state_(std::make_unique<State>(memoryCapacity, diskCapacity)) {}

URLCache::~URLCache() = default;

std::shared_ptr<URLCache> URLCache::create(std::int64_t memoryCapacity, std::int64_t diskCapacity,
                                           std::optional<std::string> diskPath) {
  return std::shared_ptr<URLCache>(new URLCache(memoryCapacity, diskCapacity, std::move(diskPath)));
}

std::shared_ptr<URLCache> URLCache::shared() {
  std::lock_guard lock(sharedMutex);
  if (sharedCache == nullptr) {
    sharedCache = new std::shared_ptr<URLCache>(create(kDefaultMemoryCapacity, kDefaultDiskCapacity));
  }
  return *sharedCache;
}

void URLCache::setShared(std::shared_ptr<URLCache> cache) {
  if (!cache) return;
  std::lock_guard lock(sharedMutex);
  if (sharedCache == nullptr) {
    sharedCache = new std::shared_ptr<URLCache>(std::move(cache));
  } else {
    *sharedCache = std::move(cache);
  }
}

std::int64_t URLCache::memoryCapacity() const { return state_->memory.capacity(); }

std::int64_t URLCache::diskCapacity() const { return state_->disk.capacity(); }

std::int64_t URLCache::currentMemoryUsage() const {
  std::lock_guard lock(state_->mutex);
  return state_->memory.usage();
}

std::int64_t URLCache::currentDiskUsage() const {
  std::lock_guard lock(state_->mutex);
  return state_->disk.usage();
}

std::optional<CachedURLResponse> URLCache::cachedResponse(const URLRequest& request) {
  auto key = keyFor(request);
  if (!key) return std::nullopt;
  std::lock_guard lock(state_->mutex);
  std::shared_ptr<const Entry> entry = state_->memory.find(*key);
  if (!entry) {
    entry = state_->disk.find(*key);
    if (!entry) return std::nullopt;
    state_->memory.put(*key, entry);
  }
  return entry->answer;
}

void URLCache::storeCachedResponse(std::shared_ptr<URLResponse> response, Data data, const URLRequest& request) {
  auto key = keyFor(request);
  if (!key || !response) return;
  auto entry = std::make_shared<Entry>();
  entry->cost = costOf(*response, data);
  entry->answer = CachedURLResponse{std::move(response), std::move(data)};
  std::lock_guard lock(state_->mutex);
  state_->memory.put(*key, entry);
  state_->disk.put(*key, std::move(entry));
}

void URLCache::removeAllCachedResponses() {
  std::lock_guard lock(state_->mutex);
  state_->memory.clear();
  state_->disk.clear();
}

}  // namespace foundation
