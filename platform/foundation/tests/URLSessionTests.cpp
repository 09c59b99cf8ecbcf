#include "platform/foundation/URLSession.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/OperationQueue.h"
#include "testing/LoopbackServer.h"
#include "testing/TemporaryFolder.h"

namespace foundation {
namespace {

/// Bounds every wait of these tests so that a fault fails a test instead of hanging it. Not a
/// delay of the system under test: tests finish as soon as the awaited event arrives.
constexpr double kWaitLimitSeconds = 20.0;

std::string gzipped(const std::string& text) {
  z_stream stream{};
  deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, text.size()) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string patternBody(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>('a' + i % 26);
  return body;
}

/// A port on 127.0.0.1 that nothing listens on: bound, then closed.
int closedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

/// What a data task's completion received, and how often it was called.
struct Outcome {
  std::mutex mutex;
  std::condition_variable changed;
  int calls = 0;
  std::optional<Data> data;
  std::shared_ptr<URLResponse> response;
  std::optional<Error> error;
  std::shared_ptr<OperationQueue> expectedQueue;
  bool ranOnExpectedQueue = false;

  DataTaskCompletion completion() {
    return [this](std::optional<Data> d, std::shared_ptr<URLResponse> r, std::optional<Error> e) {
      std::lock_guard lock(mutex);
      ++calls;
      ranOnExpectedQueue = expectedQueue && expectedQueue->isCurrent();
      data = std::move(d);
      response = std::move(r);
      error = std::move(e);
      changed.notify_all();
    };
  }
  bool wait() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::duration<double>(kWaitLimitSeconds), [&] { return calls > 0; });
  }
  std::shared_ptr<HTTPURLResponse> http() { return std::dynamic_pointer_cast<HTTPURLResponse>(response); }
};

/// Records every delegate call, in order, with what the finished file held.
class RecordingDelegate : public URLSessionDelegate {
 public:
  void didWriteData(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionDownloadTask>&,
                    std::int64_t written, std::int64_t total, std::int64_t expected) override {
    std::lock_guard lock(mutex);
    events.push_back("write");
    writtenSum += written;
    lastTotal = total;
    expectedTotals.push_back(expected);
  }
  void didFinishDownloadingTo(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionDownloadTask>& task,
                              const URL& location) override {
    std::ifstream in(location.path(), std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::lock_guard lock(mutex);
    events.push_back("finish");
    fileContent = content;
    filePath = location.path();
    response = task->response();
  }
  void didCompleteWithError(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionTask>&,
                            const std::optional<Error>& e) override {
    std::lock_guard lock(mutex);
    events.push_back("complete");
    error = e;
    fileGoneAtCompletion = filePath.empty() || !std::filesystem::exists(filePath);
  }
  void didBecomeInvalidWithError(const std::shared_ptr<URLSession>&, const std::optional<Error>&) override {
    std::lock_guard lock(mutex);
    events.push_back("invalid");
  }

  bool has(const std::string& event) {
    std::lock_guard lock(mutex);
    return std::find(events.begin(), events.end(), event) != events.end();
  }

  std::mutex mutex;
  std::vector<std::string> events;
  std::int64_t writtenSum = 0;
  std::int64_t lastTotal = 0;
  std::vector<std::int64_t> expectedTotals;
  std::string fileContent;
  std::string filePath;
  bool fileGoneAtCompletion = false;
  std::shared_ptr<URLResponse> response;
  std::optional<Error> error;
};

class URLSessionTests : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.emplace([this](httplib::Server& server) { addRoutes(server); });
    ASSERT_GT(server_->port(), 0);
  }

  void addRoutes(httplib::Server& server) {
    server.Get(R"(/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
      res.status = std::stoi(req.matches[1]);
      res.set_content("status " + std::string(req.matches[1]), "application/octet-stream");
    });
    server.Get("/headers", [](const httplib::Request& req, httplib::Response& res) {
      res.set_header("X-Echo", req.get_header_value("x-probe"));
      res.set_header("X-Session-Seen", req.get_header_value("X-Session"));
      res.set_header("X-Multi", "a");
      res.set_header("X-Multi", "b");
      res.set_content("ok", "application/octet-stream");
    });
    auto echo = [](const httplib::Request& req, httplib::Response& res) {
      res.set_header("X-Method", req.method);
      res.set_header("X-Expect", req.has_header("Expect") ? "present" : "absent");
      res.set_content(req.body, "application/octet-stream");
    };
    server.Post("/echo", echo);
    server.Put("/echo", echo);
    server.Get("/stall", [this](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("application/octet-stream", [this](std::size_t offset, httplib::DataSink& sink) {
        if (offset == 0) return sink.write("partial", 7);
        std::unique_lock lock(stallMutex_);
        stallEnded_.wait_for(lock, std::chrono::duration<double>(kWaitLimitSeconds), [&] { return stopStalling_; });
        return false;
      });
    });
    // Never ends: a server that keeps sending is stopped only by the client.
    server.Get("/endless", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("application/octet-stream", [](std::size_t, httplib::DataSink& sink) {
        static const std::string chunk = patternBody(16384);
        return sink.write(chunk.data(), chunk.size());
      });
    });
    server.Get("/redirect", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/status/201"); });
    server.Get("/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
    server.Get("/gzip", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("Content-Encoding", "gzip");
      res.set_content(gzipped(patternBody(5000)), "application/octet-stream");
    });
    server.Get("/download", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(patternBody(200000), "application/octet-stream");
    });
    server.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("application/octet-stream", [](std::size_t offset, httplib::DataSink& sink) {
        if (offset >= 3000) {
          sink.done();
          return true;
        }
        std::string chunk = patternBody(offset + 1000).substr(offset);
        return sink.write(chunk.data(), chunk.size());
      });
    });
    server.set_tcp_nodelay(true);
  }

  void TearDown() override {
    {
      std::lock_guard lock(stallMutex_);
      stopStalling_ = true;
    }
    stallEnded_.notify_all();
    server_.reset();
  }

  URL url(const std::string& path) const { return *URL::parse(server_->url(path)); }

  /// Runs a data task on a fresh session and waits for its completion.
  void load(URLRequest request, Outcome& outcome,
            std::shared_ptr<URLSession> session = URLSession::create(
                URLSessionConfiguration::ephemeralSessionConfiguration())) {
    outcome.expectedQueue = session->delegateQueue();
    session->dataTask(std::move(request), outcome.completion())->resume();
    ASSERT_TRUE(outcome.wait());
  }

  /// Runs a download task with `delegate` on the main operation queue, pumping the main loop
  /// until the session has become invalid (so every delegate call has been made).
  void download(const URL& source, const std::shared_ptr<RecordingDelegate>& delegate) {
    auto session = URLSession::create(URLSessionConfiguration::defaultSessionConfiguration(), delegate,
                                      OperationQueue::main());
    session->downloadTask(source)->resume();
    session->finishTasksAndInvalidate();
    ASSERT_TRUE(dispatch::runMainLoopUntil([&] { return delegate->has("invalid"); }, kWaitLimitSeconds));
  }

  std::optional<testing_support::LoopbackServer> server_;
  std::mutex stallMutex_;
  std::condition_variable stallEnded_;
  bool stopStalling_ = false;
};

TEST_F(URLSessionTests, EveryStatusIsAResponseWithItsBody) {
  for (int status : {200, 404, 500}) {
    SCOPED_TRACE(status);
    Outcome outcome;
    load(URLRequest(url("/status/" + std::to_string(status))), outcome);
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_TRUE(outcome.ranOnExpectedQueue);
    EXPECT_FALSE(outcome.error);
    ASSERT_TRUE(outcome.http());
    EXPECT_EQ(outcome.http()->statusCode(), status);
    EXPECT_EQ(outcome.http()->expectedContentLength(), static_cast<std::int64_t>(outcome.data->size()));
    EXPECT_EQ(outcome.data->bytes(), "status " + std::to_string(status));
  }
}

TEST_F(URLSessionTests, HeadersTravelBothWaysAndLookUpWhateverTheCase) {
  auto configuration = URLSessionConfiguration::ephemeralSessionConfiguration();
  configuration.httpAdditionalHeaders.set("X-Session", "from-configuration");
  auto session = URLSession::create(configuration);
  URLRequest request(url("/headers"));
  request.setValue("probe-value", "X-Probe");
  Outcome outcome;
  session->dataTask(request, outcome.completion())->resume();
  ASSERT_TRUE(outcome.wait());
  ASSERT_TRUE(outcome.http());
  EXPECT_EQ(outcome.http()->valueForHTTPHeaderField("x-echo"), "probe-value");
  EXPECT_EQ(outcome.http()->valueForHTTPHeaderField("X-SESSION-SEEN"), "from-configuration");
  EXPECT_EQ(outcome.http()->valueForHTTPHeaderField("x-multi"), "a, b");
  EXPECT_FALSE(outcome.http()->valueForHTTPHeaderField("X-Absent"));

  // Text that would add header lines or rewrite the request line is refused, not sent.
  URLRequest injectedValue(url("/headers"));
  injectedValue.setValue("a\r\nX-Injected: 1", "X-Probe");
  URLRequest injectedMethod(url("/headers"));
  injectedMethod.setHTTPMethod("GET /other HTTP/1.1\r\n");
  for (const URLRequest& bad : {injectedValue, injectedMethod}) {
    Outcome refused;
    session->dataTask(bad, refused.completion())->resume();
    ASSERT_TRUE(refused.wait());
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code(), static_cast<std::int64_t>(URLError::Unknown));
    EXPECT_FALSE(refused.response);
  }
}

TEST_F(URLSessionTests, MethodsSendTheirBodyWithoutWaitingForContinue) {
  for (const char* method : {"POST", "PUT"}) {
    SCOPED_TRACE(method);
    URLRequest request(url("/echo"));
    request.setHTTPMethod(method);
    request.setValue("application/x-envelope", "Content-Type");
    std::string body = patternBody(100000) + std::string("\0end", 4);
    request.setHTTPBody(Data(body));
    Outcome outcome;
    load(request, outcome);
    ASSERT_FALSE(outcome.error);
    EXPECT_EQ(outcome.data->bytes(), body);
    EXPECT_EQ(outcome.http()->valueForHTTPHeaderField("X-Method"), method);
    EXPECT_EQ(outcome.http()->valueForHTTPHeaderField("X-Expect"), "absent");
  }
}

TEST_F(URLSessionTests, ABodyThatStallsTimesOutWithoutResponse) {
  URLRequest request(url("/stall"), URLRequest::CachePolicy::UseProtocolCachePolicy, 1.0);
  Outcome outcome;
  load(request, outcome);
  ASSERT_TRUE(outcome.error);
  EXPECT_TRUE(outcome.error->is(kURLErrorDomain, static_cast<std::int64_t>(URLError::TimedOut)));
  EXPECT_FALSE(outcome.data);
  EXPECT_FALSE(outcome.response);
}

TEST_F(URLSessionTests, TransportFailuresAreErrorsWithoutResponse) {
  struct Case {
    const char* name;
    std::string url;
    URLError code;
  };
  const Case cases[] = {
      {"refused", "http://127.0.0.1:" + std::to_string(closedPort()) + "/", URLError::CannotConnectToHost},
      {"redirect loop", url("/loop").absoluteString(), URLError::HTTPTooManyRedirects},
      {"other scheme", "ftp://127.0.0.1/file", URLError::UnsupportedURL},
      {"relative", "just/a/path", URLError::UnsupportedURL},
      {"missing file", "file:///nonexistent-folder-h4/missing.json", URLError::FileDoesNotExist},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome outcome;
    load(URLRequest(*URL::parse(c.url)), outcome);
    EXPECT_EQ(outcome.calls, 1);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain(), kURLErrorDomain);
    EXPECT_EQ(outcome.error->code(), static_cast<std::int64_t>(c.code));
    EXPECT_EQ(*outcome.error->userInfo()["NSErrorFailingURLStringKey"].string(), c.url);
    EXPECT_FALSE(outcome.response);
  }
}

TEST_F(URLSessionTests, RedirectsAreFollowedAndGzipDecoded) {
  Outcome redirected;
  load(URLRequest(url("/redirect")), redirected);
  ASSERT_TRUE(redirected.http());
  EXPECT_EQ(redirected.http()->statusCode(), 201);
  EXPECT_EQ(redirected.http()->url().path(), "/status/201");
  EXPECT_EQ(redirected.data->bytes(), "status 201");

  Outcome compressed;
  load(URLRequest(url("/gzip")), compressed);
  ASSERT_FALSE(compressed.error);
  EXPECT_EQ(compressed.data->bytes(), patternBody(5000));
}

TEST_F(URLSessionTests, FileURLsAreReadWithoutHTTPResponse) {
  const testing_support::TemporaryFolder folder("fendrel-url-session");
  const std::string path = folder.file("url session.json");
  std::ofstream(path, std::ios::binary) << "{\"rules\":[]}";
  Outcome outcome;
  load(URLRequest(URL::fileURL(path)), outcome, URLSession::shared());
  EXPECT_TRUE(outcome.ranOnExpectedQueue);
  ASSERT_FALSE(outcome.error);
  EXPECT_EQ(outcome.data->bytes(), "{\"rules\":[]}");
  ASSERT_TRUE(outcome.response);
  EXPECT_FALSE(outcome.http());
  EXPECT_EQ(outcome.response->expectedContentLength(), 12);
}

TEST_F(URLSessionTests, CancelReportsOnceWhetherRunningOrNotStarted) {
  auto session = URLSession::create(URLSessionConfiguration::defaultSessionConfiguration());
  Outcome running;
  auto task = session->dataTask(url("/stall"), running.completion());
  task->resume();
  task->cancel();
  task->cancel();
  ASSERT_TRUE(running.wait());

  Outcome notStarted;
  auto idle = session->dataTask(url("/status/200"), notStarted.completion());
  idle->cancel();
  idle->resume();
  ASSERT_TRUE(notStarted.wait());

  // Both reports are in; anything further would arrive before the invalidation notice.
  session->finishTasksAndInvalidate();
  Outcome after;
  auto sentinel = session->dataTask(url("/status/200"), after.completion());
  sentinel->resume();
  ASSERT_TRUE(after.wait());
  EXPECT_TRUE(after.error);  // the session is invalid: no new loads

  for (Outcome* outcome : {&running, &notStarted}) {
    std::lock_guard lock(outcome->mutex);
    EXPECT_EQ(outcome->calls, 1);
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->code(), static_cast<std::int64_t>(URLError::Cancelled));
  }
  EXPECT_EQ(task->state(), URLSessionTask::State::Completed);
}

TEST_F(URLSessionTests, DownloadReportsProgressThenTheFileThenTheEnd) {
  struct Case {
    const char* path;
    std::size_t size;
    std::int64_t expected;
  };
  const Case cases[] = {{"/download", 200000, 200000}, {"/chunked", 3000, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto delegate = std::make_shared<RecordingDelegate>();
    download(url(c.path), delegate);
    std::lock_guard lock(delegate->mutex);
    ASSERT_GE(delegate->events.size(), 4u);
    EXPECT_EQ(delegate->events.front(), "write");
    EXPECT_EQ((std::vector<std::string>(delegate->events.end() - 3, delegate->events.end())),
              (std::vector<std::string>{"finish", "complete", "invalid"}));
    EXPECT_EQ(delegate->writtenSum, static_cast<std::int64_t>(c.size));
    EXPECT_EQ(delegate->lastTotal, static_cast<std::int64_t>(c.size));
    for (std::int64_t expected : delegate->expectedTotals) EXPECT_EQ(expected, c.expected);
    EXPECT_EQ(delegate->fileContent, patternBody(c.size));
    EXPECT_TRUE(delegate->fileGoneAtCompletion);
    EXPECT_FALSE(delegate->error);
  }
}

TEST_F(URLSessionTests, DownloadFinishesWhateverTheStatusButNotOnTransportError) {
  auto notFound = std::make_shared<RecordingDelegate>();
  download(url("/status/404"), notFound);
  {
    std::lock_guard lock(notFound->mutex);
    EXPECT_EQ(notFound->events, (std::vector<std::string>{"write", "finish", "complete", "invalid"}));
    auto http = std::dynamic_pointer_cast<HTTPURLResponse>(notFound->response);
    ASSERT_TRUE(http);
    EXPECT_EQ(http->statusCode(), 404);
    EXPECT_EQ(notFound->fileContent, "status 404");
  }

  auto refused = std::make_shared<RecordingDelegate>();
  download(*URL::parse("http://127.0.0.1:" + std::to_string(closedPort()) + "/x"), refused);
  std::lock_guard lock(refused->mutex);
  EXPECT_EQ(refused->events, (std::vector<std::string>{"complete", "invalid"}));
  ASSERT_TRUE(refused->error);
  EXPECT_EQ(refused->error->code(), static_cast<std::int64_t>(URLError::CannotConnectToHost));
}

TEST_F(URLSessionTests, BodiesLongerThanTheTaskMaximumAreRefused) {
  constexpr std::int64_t kLimit = 65536;
  struct Case {
    const char* path;
    std::int64_t limit;  // 0: the task's default
    const char* reason;  // none: the body is accepted
  };
  const Case cases[] = {
      {"/endless", 0, "longer than the limit of 8388608 bytes"},
      {"/download", 0, nullptr},
      {"/endless", kLimit, "longer than the limit of 65536 bytes"},
      {"/download", kLimit, "announces 200000 bytes, more than the limit of 65536 bytes"},
      {"/chunked", 2999, "longer than the limit of 2999 bytes"},
      {"/chunked", 3000, nullptr},
      {"/download", 200000, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.limit));
    Outcome outcome;
    auto session = URLSession::create(URLSessionConfiguration::ephemeralSessionConfiguration());
    outcome.expectedQueue = session->delegateQueue();
    auto task = session->dataTask(url(c.path), outcome.completion());
    if (c.limit > 0) task->setMaximumBodyLength(c.limit);
    task->resume();
    ASSERT_TRUE(outcome.wait());
    std::lock_guard lock(outcome.mutex);
    EXPECT_LE(task->countOfBytesReceived(), c.limit > 0 ? c.limit : URLSessionTask::kDefaultDataBodyLength);
    if (!c.reason) {
      EXPECT_FALSE(outcome.error);
      continue;
    }
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), static_cast<std::int64_t>(URLError::DataLengthExceedsMaximum));
    EXPECT_EQ(outcome.error->localizedDescription(), "resource exceeds maximum size");
    EXPECT_NE(outcome.error->userInfo()[kDebugDescriptionKey].asString().value_or("").find(c.reason),
              std::string::npos);
    EXPECT_FALSE(outcome.data);
  }
}

TEST_F(URLSessionTests, DownloadBodyHasNoNameOnDiskExceptDuringTheFinishCall) {
  char pattern[] = "/tmp/urlsession-tmp-XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  const char* previous = std::getenv("TMPDIR");
  const std::string restore = previous ? previous : "";
  ::setenv("TMPDIR", folder.c_str(), 1);
  auto isEmpty = [&] { return std::filesystem::is_empty(folder); };

  // A finished body is named in the temporary folder for the finish call only.
  auto finished = std::make_shared<RecordingDelegate>();
  download(url("/download"), finished);
  {
    std::lock_guard lock(finished->mutex);
    EXPECT_EQ(finished->fileContent, patternBody(200000));
    EXPECT_EQ(std::filesystem::path(finished->filePath).parent_path(), folder);
    EXPECT_TRUE(finished->fileGoneAtCompletion);
  }
  EXPECT_TRUE(isEmpty());

  // While bytes arrive, and after a refusal or a cancellation, nothing in the folder holds them.
  for (bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancelled" : "too long");
    auto delegate = std::make_shared<RecordingDelegate>();
    auto session = URLSession::create(URLSessionConfiguration::defaultSessionConfiguration(), delegate,
                                      OperationQueue::main());
    auto task = session->downloadTask(url(cancel ? "/stall" : "/endless"));
    task->setMaximumBodyLength(1 << 20);
    task->resume();
    ASSERT_TRUE(dispatch::runMainLoopUntil([&] { return delegate->has("write"); }, kWaitLimitSeconds));
    EXPECT_TRUE(isEmpty());
    if (cancel) task->cancel();
    ASSERT_TRUE(dispatch::runMainLoopUntil([&] { return delegate->has("complete"); }, kWaitLimitSeconds));
    EXPECT_FALSE(delegate->has("finish"));
    ASSERT_TRUE(delegate->error);
    EXPECT_EQ(delegate->error->code(), static_cast<std::int64_t>(cancel ? URLError::Cancelled
                                                                        : URLError::DataLengthExceedsMaximum));
    EXPECT_TRUE(isEmpty());
    session->finishTasksAndInvalidate();
  }

  if (previous) {
    ::setenv("TMPDIR", restore.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  std::filesystem::remove_all(folder);
}

TEST_F(URLSessionTests, InvalidationReleasesTheDelegateAfterTheLastTask) {
  auto delegate = std::make_shared<RecordingDelegate>();
  std::weak_ptr<RecordingDelegate> weakDelegate = delegate;
  auto session = URLSession::create(URLSessionConfiguration::defaultSessionConfiguration(), delegate,
                                    OperationQueue::main());
  auto task = session->downloadTask(url("/stall"));
  task->resume();
  session->invalidateAndCancel();
  ASSERT_TRUE(dispatch::runMainLoopUntil([&] { return delegate->has("invalid"); }, kWaitLimitSeconds));
  {
    std::lock_guard lock(delegate->mutex);
    ASSERT_TRUE(delegate->error);
    EXPECT_EQ(delegate->error->code(), static_cast<std::int64_t>(URLError::Cancelled));
    EXPECT_EQ(delegate->events.back(), "invalid");
  }
  delegate.reset();
  EXPECT_TRUE(weakDelegate.expired());
  EXPECT_FALSE(session->delegate());
}

}  // namespace
}  // namespace foundation
