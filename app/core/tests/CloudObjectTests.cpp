#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

#include "app/core/CloudObject.h"
#include "app/core/tests/CoreTestSupport.h"
#include "platform/foundation/FileManager.h"

namespace fendrel {
namespace {

using foundation::Dictionary;
using foundation::Value;
using test_support::listDictionary;

const auto kBase = foundation::URL::parse("https://config.test/Skyvane/config1.7.json");

Dictionary with(Dictionary dictionary, const std::string& key, Value value) {
  dictionary.set(key, std::move(value));
  return dictionary;
}

Dictionary appDictionary() {
  return Dictionary{{"name", "App"}, {"modifiedAt", 1}, {"iconUrl", "https://img.test/a.png"},
                    {"objectId", "app1"}, {"iTunesId", "123"}};
}

TEST(CloudObjectTests, ConstructionAcceptsOnlyWellFormedEntries) {
  const Dictionary list = listDictionary("l1", "https://lists.test/rules.json");
  struct Case {
    const char* name;
    CloudObject::Kind kind;
    Dictionary dictionary;
    bool made;
  };
  const Case cases[] = {
      {"complete list", CloudObject::Kind::List, list, true},
      {"missing name", CloudObject::Kind::List, with(list, "name", Value()), false},
      {"modifiedAt as text", CloudObject::Kind::List, with(list, "modifiedAt", "1"), false},
      {"modifiedAt as bool", CloudObject::Kind::List, with(list, "modifiedAt", true), false},
      {"modifiedAt not finite", CloudObject::Kind::List, with(list, "modifiedAt", std::nan("")), false},
      {"modifiedAt beyond 64 bits", CloudObject::Kind::List, with(list, "modifiedAt", 1e19), false},
      {"modifiedAt below 64 bits", CloudObject::Kind::List, with(list, "modifiedAt", -1e19), false},
      {"modifiedAt near the limit", CloudObject::Kind::List, with(list, "modifiedAt", 9.2e18), true},
      {"iconUrl not a URL", CloudObject::Kind::List, with(list, "iconUrl", "not a url"), false},
      {"missing objectId", CloudObject::Kind::List, with(list, "objectId", Value()), false},
      {"count integral double", CloudObject::Kind::List, with(list, "count", 12.0), true},
      {"count fractional", CloudObject::Kind::List, with(list, "count", 12.5), false},
      {"count as text", CloudObject::Kind::List, with(list, "count", "12"), false},
      {"missing desc", CloudObject::Kind::List, with(list, "desc", Value()), false},
      {"missing num", CloudObject::Kind::List, with(list, "num", Value()), false},
      {"missing attachment", CloudObject::Kind::List, with(list, "attachmentUrl", Value()), false},
      {"debugOnly as text", CloudObject::Kind::List, with(list, "debugOnly", "yes"), true},
      {"attachment naming the root", CloudObject::Kind::List, with(list, "attachmentUrl", "https://lists.test/"),
       false},
      {"attachment without path", CloudObject::Kind::List, with(list, "attachmentUrl", "https://lists.test"), false},
      {"attachment climbing up", CloudObject::Kind::List, with(list, "attachmentUrl", "https://lists.test/a/.."),
       false},
      {"attachment with escaped slash", CloudObject::Kind::List,
       with(list, "attachmentUrl", "https://lists.test/..%2F..%2Foutput.json"), false},
      {"attachment with NUL", CloudObject::Kind::List, with(list, "attachmentUrl", "https://lists.test/a%00b"),
       false},
      {"app without list keys", CloudObject::Kind::App, appDictionary(), true},
      {"app without iTunesId", CloudObject::Kind::App, with(appDictionary(), "iTunesId", Value()), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CloudObject::make(c.kind, c.dictionary, kBase).has_value(), c.made);
  }
}

TEST(CloudObjectTests, FieldsDefaultsAndResolvedLinks) {
  auto list = CloudObject::make(CloudObject::Kind::List,
                                with(listDictionary("l1", "rules/l1.json"), "debugOnly", true), kBase);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->objectId(), "l1");
  EXPECT_EQ(list->name(), "List l1");
  EXPECT_EQ(list->count(), 12);
  EXPECT_EQ(list->num(), 1);
  EXPECT_TRUE(list->debugOnly());
  EXPECT_EQ(list->iconUrl().absoluteString(), "https://config.test/Skyvane/icons/l1.png");
  EXPECT_EQ(list->attachmentUrl()->absoluteString(), "https://config.test/Skyvane/rules/l1.json");
  EXPECT_DOUBLE_EQ(list->modifiedAt().timeIntervalSince1970(), 1600000000.7);

  auto app = CloudObject::make(CloudObject::Kind::App, with(appDictionary(), "count", 7), kBase);
  ASSERT_TRUE(app);
  EXPECT_EQ(app->iTunesId(), "123");
  EXPECT_EQ(app->iconUrl().absoluteString(), "https://img.test/a.png");
  EXPECT_FALSE(app->attachmentUrl());
  EXPECT_EQ(app->count(), 0);
  EXPECT_EQ(app->num(), 0);
  EXPECT_EQ(app->desc(), "");
  EXPECT_FALSE(app->debugOnly());
}

TEST(CloudObjectTests, CacheFileNameIsWholeSecondsThenLastComponent) {
  struct Case {
    double modifiedAt;
    const char* expected;
  };
  const Case cases[] = {{1600000000.7, "1600000000rules.json"}, {0, "0rules.json"}, {-5.5, "-5rules.json"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    auto list = CloudObject::make(CloudObject::Kind::List,
                                  listDictionary("l", "https://lists.test/x/rules.json", c.modifiedAt), kBase);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->localFileName(list->attachmentUrl()->lastPathComponent()), c.expected);
  }
}

TEST(CloudObjectTests, CacheURLLivesInTheContainersCachesFolder) {
  test_support::ScopedDeviceRoot root;
  auto url = CloudObject::cachesURL("1rules.json");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->path(), root.cachesPath() + "/1rules.json");
  EXPECT_FALSE(CloudObject::cachesURL("../output.json"));
  EXPECT_FALSE(CloudObject::cachesURL(".."));
  EXPECT_FALSE(CloudObject::cachesURL(""));

  auto list = CloudObject::make(CloudObject::Kind::List, listDictionary("l", "https://lists.test/rules.json"), kBase);
  ASSERT_TRUE(list);
  EXPECT_FALSE(list->existingAttachmentURL());
  std::ofstream(root.cachesPath() + "/1600000000rules.json") << "[]";
  ASSERT_TRUE(list->existingAttachmentURL());
  EXPECT_EQ(list->existingAttachmentURL()->path(), root.cachesPath() + "/1600000000rules.json");
}

TEST(CloudObjectTests, NoContainerMeansNoCacheAndNoDownload) {
  test_support::ScopedDeviceRoot root(/*entitled=*/false);
  test_support::LoopbackServer server;
  EXPECT_FALSE(CloudObject::cachesURL("1rules.json"));
  auto list = CloudObject::make(CloudObject::Kind::List, listDictionary("l", server.url("/rules.json")), kBase);
  ASSERT_TRUE(list);
  bool called = false;
  list->downloadAttachment([&](std::optional<float>) { called = true; }, [&] { called = true; });
  EXPECT_FALSE(called);
  EXPECT_EQ(server.requests(), 0);
}

/// Records what a download reports.
struct DownloadRecord {
  std::vector<std::optional<float>> progress;
  int completions = 0;
  int noProgressReports() const {
    int n = 0;
    for (const auto& p : progress) n += p ? 0 : 1;
    return n;
  }
};

class CloudObjectDownloadTests : public ::testing::Test {
 protected:
  CloudObject list(const std::string& path = "/lists/rules.json") {
    return *CloudObject::make(CloudObject::Kind::List, listDictionary("l1", server_.url(path)), kBase);
  }
  void start(const CloudObject& object) {
    object.downloadAttachment([this](std::optional<float> p) { record_.progress.push_back(p); },
                              [this] { ++record_.completions; });
  }
  std::string cachedPath() const { return root_.cachesPath() + "/1600000000rules.json"; }
  /// Lets a download that already reported its end deliver anything it still had queued.
  void settle() {
    dispatch::runMainLoopUntil([] { return false; }, 0.2);
  }

  test_support::ScopedDeviceRoot root_;
  test_support::LoopbackServer server_;
  DownloadRecord record_;
};

TEST_F(CloudObjectDownloadTests, JSONArrayIsStoredUnderTheCacheName) {
  const std::string body = R"([{"trigger":{"url-filter":"ads"},"action":{"type":"block"}}])";
  server_.setHandler([&](const httplib::Request&, httplib::Response& response) {
    // Not a compressible type: a compressed body announces no length, and this test wants one.
    response.set_content(body, "application/octet-stream");
  });
  start(list());
  ASSERT_TRUE(test_support::pumpUntil([&] { return record_.completions > 0; }));
  settle();
  EXPECT_EQ(record_.completions, 1);
  ASSERT_FALSE(record_.progress.empty());
  EXPECT_EQ(record_.noProgressReports(), 0);
  ASSERT_TRUE(record_.progress.back());
  EXPECT_FLOAT_EQ(*record_.progress.back(), 1.0f);
  auto stored = foundation::FileManager::defaultManager().readFile(cachedPath());
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->bytes(), body);

  // Cached now: the completion runs within the call and nothing is requested.
  int requests = server_.requests();
  DownloadRecord again;
  list().downloadAttachment([&](std::optional<float> p) { again.progress.push_back(p); },
                            [&] { ++again.completions; });
  EXPECT_EQ(again.completions, 1);
  EXPECT_TRUE(again.progress.empty());
  EXPECT_EQ(server_.requests(), requests);
}

TEST_F(CloudObjectDownloadTests, UnknownLengthReportsNoFractionAndStillStores) {
  server_.setHandler([](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("application/json", [](std::size_t, httplib::DataSink& sink) {
      sink.write("[1,2,3]", 7);
      sink.done();
      return true;
    });
  });
  start(list());
  ASSERT_TRUE(test_support::pumpUntil([&] { return record_.completions > 0; }));
  EXPECT_GT(record_.noProgressReports(), 0);
  for (const auto& p : record_.progress) EXPECT_FALSE(p);
  EXPECT_TRUE(std::filesystem::exists(cachedPath()));
}

TEST_F(CloudObjectDownloadTests, ErrorStatusOrNonJSONBodyCachesNothing) {
  struct Case {
    const char* name;
    int status;
    const char* body;
    const char* type;
  };
  const Case cases[] = {
      {"404 page", 404, "<html>Not found</html>", "text/html"},
      {"captive portal page", 200, "<html>Sign in</html>", "text/html"},
      {"JSON object", 200, R"({"rules":[]})", "application/json"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    record_ = {};
    server_.setHandler([&](const httplib::Request&, httplib::Response& response) {
      response.status = c.status;
      response.set_content(c.body, c.type);
    });
    start(list());
    ASSERT_TRUE(test_support::pumpUntil([&] { return record_.noProgressReports() > 0; }));
    settle();
    // A compressed page reports no fraction while it arrives; the refusal itself reports none.
    EXPECT_EQ(record_.noProgressReports(), static_cast<int>(record_.progress.size()));
    EXPECT_EQ(record_.completions, 0);
    EXPECT_FALSE(std::filesystem::exists(cachedPath()));
  }
}

TEST_F(CloudObjectDownloadTests, TransportFailureReportsNoProgressOnce) {
  auto refused = CloudObject::make(CloudObject::Kind::List,
                                   listDictionary("l1", "http://127.0.0.1:1/rules.json"), kBase);
  ASSERT_TRUE(refused);
  start(*refused);
  ASSERT_TRUE(test_support::pumpUntil([&] { return record_.noProgressReports() > 0; }));
  settle();
  EXPECT_EQ(record_.noProgressReports(), 1);
  EXPECT_EQ(record_.completions, 0);
}

TEST_F(CloudObjectDownloadTests, ListLongerThanTheLimitIsRefusedAndLeavesNoFile) {
  server_.setHandler([](const httplib::Request&, httplib::Response& response) {
    // Owned by the handler's copy: the server may still be writing when the test has moved on.
    auto chunk = std::make_shared<std::string>(1 << 20, ' ');
    response.set_chunked_content_provider("application/json", [chunk](std::size_t offset, httplib::DataSink& sink) {
      if (offset == 0) return sink.write("[", 1);
      return sink.write(chunk->data(), chunk->size());
    });
  });
  const CloudObject object = list();
  start(object);
  ASSERT_TRUE(test_support::pumpUntil([&] { return object.lastDownloadFailure().has_value(); }));
  settle();
  EXPECT_EQ(record_.completions, 0);
  ASSERT_FALSE(record_.progress.empty());
  EXPECT_FALSE(record_.progress.back());
  EXPECT_NE(object.lastDownloadFailure()->find("resource exceeds maximum size"), std::string::npos);
  EXPECT_NE(object.lastDownloadFailure()->find("67108864 bytes"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(root_.cachesPath()));
}

TEST_F(CloudObjectDownloadTests, OnlyHTTPListsAreFetched) {
  const std::string local = root_.path() + "/rules.json";
  std::ofstream(local) << "[]";
  for (const std::string& source : {"file://" + local, std::string("ftp://127.0.0.1/rules.json")}) {
    SCOPED_TRACE(source);
    record_ = {};
    auto object = CloudObject::make(CloudObject::Kind::List, listDictionary("l1", source), kBase);
    ASSERT_TRUE(object);
    start(*object);
    ASSERT_TRUE(test_support::pumpUntil([&] { return record_.noProgressReports() > 0; }));
    settle();
    EXPECT_EQ(record_.progress.size(), 1u);
    EXPECT_EQ(record_.completions, 0);
    EXPECT_EQ(object->lastDownloadFailure(), "unsupported URL: only http and https lists are downloaded");
    EXPECT_FALSE(object->existingAttachmentURL());
  }
}

TEST_F(CloudObjectDownloadTests, AtMostFourDownloadsRunAtOnce) {
  struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    int inFlight = 0;
    int most = 0;
    bool open = false;
  };
  auto gate = std::make_shared<Gate>();
  server_.setHandler([gate](const httplib::Request&, httplib::Response& response) {
    std::unique_lock lock(gate->mutex);
    gate->most = std::max(gate->most, ++gate->inFlight);
    gate->changed.notify_all();
    gate->changed.wait_for(lock, std::chrono::seconds(20), [&] { return gate->open; });
    --gate->inFlight;
    response.set_content("[]", "application/json");
  });
  constexpr int kLists = 7;
  int completions = 0;
  for (int i = 0; i < kLists; ++i) {
    auto object = CloudObject::make(
        CloudObject::Kind::List, listDictionary("l" + std::to_string(i), server_.url("/r" + std::to_string(i) + ".json")),
        kBase);
    object->downloadAttachment(nullptr, [&] { ++completions; });
  }
  auto inFlight = [&] {
    std::lock_guard lock(gate->mutex);
    return gate->inFlight;
  };
  ASSERT_TRUE(test_support::pumpUntil([&] { return inFlight() == 4; }));
  // Time for any download beyond the bound to reach the server, had it been started.
  dispatch::runMainLoopUntil([] { return false; }, 0.3);
  EXPECT_EQ(server_.requests(), 4);
  {
    std::lock_guard lock(gate->mutex);
    gate->open = true;
  }
  gate->changed.notify_all();
  ASSERT_TRUE(test_support::pumpUntil([&] { return completions == kLists; }));
  EXPECT_EQ(server_.requests(), kLists);
  std::lock_guard lock(gate->mutex);
  EXPECT_EQ(gate->most, 4);
}

TEST_F(CloudObjectDownloadTests, FileIsStoredOffTheMainQueueAndTheCompletionComesOnIt) {
  server_.setHandler([](const httplib::Request&, httplib::Response& response) {
    response.set_content("[1]", "application/json");
  });
  start(list());
  // The main queue is not run: the file arrives anyway.
  for (int polls = 0; polls < 2000 && !std::filesystem::exists(cachedPath()); ++polls) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(std::filesystem::exists(cachedPath()));
  EXPECT_EQ(record_.completions, 0);
  ASSERT_TRUE(test_support::pumpUntil([&] { return record_.completions > 0; }));
}

}  // namespace
}  // namespace fendrel
