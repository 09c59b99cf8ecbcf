#include "platform/foundation/URLCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/foundation/URLSession.h"
#include "testing/LoopbackServer.h"

namespace foundation {
namespace {

/// Bounds every wait so that a fault fails a test instead of hanging it; not a delay of the code.
constexpr double kWaitLimitSeconds = 20.0;

const std::string kBase = "http://cache.test/";

URLRequest get(const std::string& path) { return URLRequest(*URL::parse(kBase + path)); }

std::shared_ptr<URLResponse> okResponse(const std::string& path) {
  return std::make_shared<HTTPURLResponse>(*URL::parse(kBase + path), 200, HTTPHeaderFields{});
}

/// Cost of an entry stored by `put`: its body plus the URL of its response (no header fields).
std::int64_t costOf(const std::string& path, std::size_t bodySize) {
  return static_cast<std::int64_t>(bodySize + (kBase + path).size());
}

void put(URLCache& cache, const std::string& path, std::size_t bodySize) {
  cache.storeCachedResponse(okResponse(path), Data(std::string(bodySize, 'x')), get(path));
}

bool holds(URLCache& cache, const std::string& path) { return cache.cachedResponse(get(path)).has_value(); }

TEST(URLCacheTest, StoresAndAnswersByURLForGETOnly) {
  auto cache = URLCache::create(100000, 0);
  auto response = okResponse("a");
  cache->storeCachedResponse(response, Data(std::string("body a")), get("a"));

  auto hit = cache->cachedResponse(get("a"));
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->response, response);
  EXPECT_EQ(hit->data.bytes(), "body a");
  EXPECT_FALSE(holds(*cache, "b"));

  // Other methods neither read nor write the cache.
  URLRequest post = get("a");
  post.setHTTPMethod("POST");
  EXPECT_FALSE(cache->cachedResponse(post));
  cache->storeCachedResponse(okResponse("p"), Data(std::string("x")), [] {
    URLRequest request = get("p");
    request.setHTTPMethod("POST");
    return request;
  }());
  EXPECT_FALSE(holds(*cache, "p"));

  // A later answer replaces the earlier one and its cost.
  cache->storeCachedResponse(okResponse("a"), Data(std::string("newer")), get("a"));
  EXPECT_EQ(cache->cachedResponse(get("a"))->data.bytes(), "newer");
  EXPECT_EQ(cache->currentMemoryUsage(), costOf("a", 5));

  cache->removeAllCachedResponses();
  EXPECT_FALSE(holds(*cache, "a"));
  EXPECT_EQ(cache->currentMemoryUsage(), 0);
}

TEST(URLCacheTest, EvictsTheLeastRecentlyUsedEntryFirst) {
  // Room for exactly three entries of 100 bytes in memory, no disk tier.
  auto cache = URLCache::create(3 * costOf("a", 100), 0);
  put(*cache, "a", 100);
  put(*cache, "b", 100);
  put(*cache, "c", 100);
  ASSERT_TRUE(holds(*cache, "a"));  // a is now more recent than b
  put(*cache, "d", 100);

  EXPECT_FALSE(holds(*cache, "b"));
  for (const char* kept : {"a", "c", "d"}) EXPECT_TRUE(holds(*cache, kept)) << kept;
  EXPECT_EQ(cache->currentMemoryUsage(), 3 * costOf("a", 100));
}

TEST(URLCacheTest, RefusesEntriesLargerThanTheCapacityWithoutEvictingOthers) {
  auto cache = URLCache::create(costOf("a", 100) + costOf("b", 100), 0);
  put(*cache, "a", 100);
  put(*cache, "b", 100);
  put(*cache, "big", 1000);
  EXPECT_FALSE(holds(*cache, "big"));
  EXPECT_TRUE(holds(*cache, "a"));
  EXPECT_TRUE(holds(*cache, "b"));

  // An oversize replacement drops the older answer rather than serving it in its place.
  put(*cache, "a", 1000);
  EXPECT_FALSE(holds(*cache, "a"));

  // A capacity of zero or less keeps nothing, not even entries with an empty body.
  for (std::int64_t capacity : {std::int64_t{0}, std::int64_t{-5}}) {
    auto none = URLCache::create(capacity, capacity);
    EXPECT_EQ(none->memoryCapacity(), 0);
    put(*none, "e", 0);
    EXPECT_FALSE(holds(*none, "e"));
  }
}

TEST(URLCacheTest, TheDiskTierKeepsWhatMemoryEvictedAndBringsItBack) {
  auto cache = URLCache::create(costOf("a", 100), 10 * costOf("a", 100), "/unused/path");
  EXPECT_EQ(cache->diskPath(), "/unused/path");
  put(*cache, "a", 100);
  put(*cache, "b", 100);  // evicts a from memory only
  EXPECT_EQ(cache->currentDiskUsage(), 2 * costOf("a", 100));
  ASSERT_TRUE(holds(*cache, "a"));
  EXPECT_EQ(cache->currentMemoryUsage(), costOf("a", 100));  // a is back in memory, b left it
}

/// A loopback server that counts its hits, and a shared cache of its own for each test.
class URLCacheSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    URLCache::setShared(cache_);
    server_.emplace([this](httplib::Server& server) {
      server.Get(R"(/status/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
        ++hits_;
        res.status = std::stoi(req.matches[1]);
        res.set_content("answer " + std::string(req.matches[1]), "text/plain");
      });
      server.Get("/no-store", [this](const httplib::Request&, httplib::Response& res) {
        ++hits_;
        res.set_header("Cache-Control", "private, No-Store");
        res.set_content("secret", "text/plain");
      });
    });
    ASSERT_GT(server_->port(), 0);
  }

  void TearDown() override {
    server_.reset();
    URLCache::setShared(URLCache::create(512 * 1024, 10 * 1024 * 1024));
  }

  struct Outcome {
    std::optional<Data> data;
    std::shared_ptr<URLResponse> response;
    std::optional<Error> error;
  };

  Outcome load(const std::string& path, URLRequestCachePolicy policy,
               URLSessionConfiguration configuration = URLSessionConfiguration::defaultSessionConfiguration()) {
    URLRequest request(*URL::parse(server_->url(path)), policy, 10);
    std::mutex mutex;
    std::condition_variable done;
    std::optional<Outcome> outcome;
    URLSession::create(configuration)
        ->dataTask(request,
                   [&](std::optional<Data> data, std::shared_ptr<URLResponse> response, std::optional<Error> error) {
                     std::lock_guard lock(mutex);
                     outcome = Outcome{std::move(data), std::move(response), std::move(error)};
                     done.notify_all();
                   })
        ->resume();
    std::unique_lock lock(mutex);
    done.wait_for(lock, std::chrono::duration<double>(kWaitLimitSeconds), [&] { return outcome.has_value(); });
    if (!outcome) ADD_FAILURE() << "no completion for " << path;
    return outcome.value_or(Outcome{});
  }

  static bool isResourceUnavailable(const Outcome& outcome) {
    return outcome.error && outcome.error->is(kURLErrorDomain, -1008) && !outcome.data && !outcome.response;
  }

  std::shared_ptr<URLCache> cache_ = URLCache::create(1 << 20, 0);
  std::optional<testing_support::LoopbackServer> server_;
  std::atomic<int> hits_ = 0;
};

TEST_F(URLCacheSessionTest, ReturnCacheDataDontLoadAnswersOnlyFromTheCache) {
  using Policy = URLRequestCachePolicy;
  EXPECT_TRUE(isResourceUnavailable(load("/status/200", Policy::ReturnCacheDataDontLoad)));
  EXPECT_EQ(hits_, 0);

  Outcome loaded = load("/status/200", Policy::UseProtocolCachePolicy);
  ASSERT_FALSE(loaded.error);
  EXPECT_EQ(hits_, 1);

  for (Policy policy : {Policy::ReturnCacheDataDontLoad, Policy::ReturnCacheDataElseLoad}) {
    SCOPED_TRACE(static_cast<int>(policy));
    Outcome cached = load("/status/200", policy);
    ASSERT_FALSE(cached.error);
    EXPECT_EQ(cached.data->bytes(), "answer 200");
    auto http = std::dynamic_pointer_cast<HTTPURLResponse>(cached.response);
    ASSERT_TRUE(http);
    EXPECT_EQ(http->statusCode(), 200);
  }
  EXPECT_EQ(hits_, 1);

  // Without freshness rules the default policy never trusts the cache: it loads again.
  ASSERT_FALSE(load("/status/200", Policy::UseProtocolCachePolicy).error);
  EXPECT_EQ(hits_, 2);
}

TEST_F(URLCacheSessionTest, KeepsOnlySuccessfulStorableAnswersOfSessionsThatCache) {
  struct Case {
    const char* name;
    const char* path;
    URLSessionConfiguration configuration;
  };
  const Case cases[] = {
      {"error status", "/status/404", URLSessionConfiguration::defaultSessionConfiguration()},
      {"other status", "/status/300", URLSessionConfiguration::defaultSessionConfiguration()},
      {"no-store", "/no-store", URLSessionConfiguration::defaultSessionConfiguration()},
      {"ephemeral session", "/status/201", URLSessionConfiguration::ephemeralSessionConfiguration()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int before = hits_;
    Outcome loaded = load(c.path, URLRequestCachePolicy::UseProtocolCachePolicy, c.configuration);
    EXPECT_FALSE(loaded.error);
    EXPECT_EQ(hits_, before + 1);
    EXPECT_TRUE(isResourceUnavailable(load(c.path, URLRequestCachePolicy::ReturnCacheDataDontLoad)));
  }
  EXPECT_EQ(cache_->currentMemoryUsage(), 0);
}

}  // namespace
}  // namespace foundation
