#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

#include "TovelCommon/DataExtensions.h"
#include "TovelCommon/URLSessionExtensions.h"
#include "TovelTestSupport.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/URLSession.h"

namespace tovel {
namespace {

using foundation::Result;

/// Runs one data task of the wrapper and waits for its single result.
Result<DataWithBaggage> load(const foundation::URL& url) {
  std::mutex mutex;
  std::optional<Result<DataWithBaggage>> outcome;
  std::atomic<int> calls = 0;
  auto task = dataTask(*foundation::URLSession::shared(), url, foundation::URLRequestCachePolicy::UseProtocolCachePolicy,
                       60, [&](Result<DataWithBaggage> result) {
                         std::lock_guard lock(mutex);
                         outcome.emplace(std::move(result));
                         ++calls;
                       });
  task->resume();
  dispatch::runMainLoopUntil([&] { return calls.load() > 0; }, 20);
  std::lock_guard lock(mutex);
  EXPECT_EQ(calls.load(), 1);
  if (!outcome) return foundation::Error("test", -1);
  return *outcome;
}

TEST(DataTaskTest, OnlyA2xxAnswerIsASuccess) {
  auto log = std::make_shared<test_support::RequestLog>();
  test_support::LoopbackServer server("server", log);
  struct Case {
    int status;
    const char* body;
    bool success;
  };
  const Case cases[] = {{200, "hello", true}, {204, "", true}, {299, "x", true},
                        {300, "x", false},    {404, "x", false}, {500, "body", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    server.setHandler([c](const httplib::Request&, httplib::Response& response) {
      response.status = c.status;
      response.set_content(c.body, "text/plain");
    });
    auto result = load(*foundation::URL::parse(server.baseURL() + "file"));
    ASSERT_EQ(result.ok(), c.success);
    if (c.success) {
      EXPECT_EQ(result->data.bytes(), c.body);
      EXPECT_EQ(result->request.url().absoluteString(), server.baseURL() + "file");
      EXPECT_TRUE(result->response);
    } else {
      EXPECT_TRUE(result.error().is(kURLSessionErrorDomain, 1));
    }
  }
}

TEST(DataTaskTest, FileURLsSucceedWithoutAnHTTPResponseAndTransportErrorsPassThrough) {
  test_support::ScopedDeviceRoot root;
  const std::string path = root.path() + "/file.txt";
  std::ofstream(path) << "contents";
  auto file = load(foundation::URL::fileURL(path));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->data.bytes(), "contents");

  test_support::RefusingPort refusing;
  auto refused = load(*foundation::URL::parse(refusing.baseURL()));
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().domain(), foundation::kURLErrorDomain);
}

TEST(WriteToFileTest, CreatesMissingFoldersAndRefusesURLsThatAreNotFiles) {
  test_support::ScopedDeviceRoot root;
  const std::string path = root.path() + "/a/b/c.bin";
  ASSERT_TRUE(writeToFilePath(foundation::Data(std::string("bytes")), path));
  EXPECT_EQ(foundation::FileManager::defaultManager().readFile(path)->bytes(), "bytes");

  auto web = writeToFile(foundation::Data(std::string("x")), *foundation::URL::parse("https://h.invalid/a/c.bin"));
  ASSERT_FALSE(web);
  EXPECT_TRUE(web.error().is(kDataNotFileUrlDomain, 0));

  // A file where a folder must go: the folder creation fails and nothing is written.
  ASSERT_TRUE(writeToFilePath(foundation::Data(std::string("f")), root.path() + "/blocker"));
  EXPECT_FALSE(writeToFilePath(foundation::Data(std::string("x")), root.path() + "/blocker/inner/c.bin"));
}

}  // namespace
}  // namespace tovel
