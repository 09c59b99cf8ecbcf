#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/URLRequest.h"
#include "platform/foundation/URLResponse.h"

namespace foundation {

/// An answer kept by a URL cache: the response and its whole body.
struct CachedURLResponse {
  std::shared_ptr<URLResponse> response;
  Data data;
};

/// Keeps answers to GET requests by URL, so that a session can answer a request from memory. Two
/// tiers, each with its own capacity in bytes and least-recently-used eviction: a memory tier and
/// a disk tier. This stand-in holds the disk tier in memory too, whether or not a disk path is
/// given (the path is recorded, nothing is written): cached answers never outlive the process.
///
/// The cost of an entry is the size of its body, its URL and its header fields. An entry whose cost
/// exceeds a tier's capacity is not kept in that tier; a capacity of 0 or less keeps nothing.
///
/// No HTTP freshness rules: an entry stays until it is evicted, replaced or removed. The data tasks
/// of a non-ephemeral session use the shared cache: returnCacheDataDontLoad answers only from it
/// (URLError -1008, "resource unavailable", without an entry), returnCacheDataElseLoad answers from
/// it when it can and loads otherwise, and the other policies always load. Every loaded answer to
/// a GET with a 2xx status and no "Cache-Control: no-store" is stored. Download tasks always load.
/// All operations are thread-safe.
class URLCache {
 public:
  static std::shared_ptr<URLCache> create(std::int64_t memoryCapacity, std::int64_t diskCapacity,
                                          std::optional<std::string> diskPath = std::nullopt);

  /// The cache that sessions with a non-ephemeral configuration use. Until setShared() is called,
  /// one with 512 KiB of memory and 10 MiB of disk capacity, created on first use.
  static std::shared_ptr<URLCache> shared();
  /// Makes `cache` the shared cache for tasks started from now on; a null cache is ignored.
  static void setShared(std::shared_ptr<URLCache> cache);

  ~URLCache();
  URLCache(const URLCache&) = delete;
  URLCache& operator=(const URLCache&) = delete;

  /// The capacities as given, negative ones read as 0.
  std::int64_t memoryCapacity() const;
  std::int64_t diskCapacity() const;
  const std::optional<std::string>& diskPath() const { return diskPath_; }
  /// Bytes held by each tier, counted as the entries' costs.
  std::int64_t currentMemoryUsage() const;
  std::int64_t currentDiskUsage() const;

  /// The answer kept for the request's URL, if any; only GET requests have cached answers. A hit
  /// counts as a use for the eviction order, and a hit in the disk tier is brought back to memory.
  std::optional<CachedURLResponse> cachedResponse(const URLRequest& request);
  /// Keeps `response` and `data` as the answer to the request's URL, replacing an earlier one.
  /// Ignored for a null response and for requests other than GET.
  void storeCachedResponse(std::shared_ptr<URLResponse> response, Data data, const URLRequest& request);
  void removeAllCachedResponses();

 private:
  struct State;
  URLCache(std::int64_t memoryCapacity, std::int64_t diskCapacity, std::optional<std::string> diskPath);

  const std::optional<std::string> diskPath_;
  std::unique_ptr<State> state_;
};

}  // namespace foundation
