#pragma once
// Test support: a stand-in for the crash-reporting service's ingestion endpoint, on the loopback
// address, that records every request and answers from a script.

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

class LoopbackServer;

/// One request as it arrived. The body is exactly the bytes sent: a gzip body stays compressed,
/// so a client that forgets to compress shows.
struct IngestionRequest {
  std::string method;
  std::string path;
  httplib::Headers headers;  ///< names compare without regard to case
  std::string body;
  std::chrono::steady_clock::time_point arrival;

  /// The first value of header `name` (any case); "" when absent.
  std::string header(const std::string& name) const;
  bool hasHeader(const std::string& name) const { return headers.count(name) > 0; }
};

/// How the server answers one request.
struct IngestionAnswer {
  int status = 200;
  /// Sent with the names exactly as given (a lower-case name goes out in lower case).
  std::vector<std::pair<std::string, std::string>> headers = {};
  std::string body = {};
  /// Waited before answering; cut short when the server stops.
  std::chrono::milliseconds delay{0};
  /// Close the connection without any answer.
  bool dropConnection = false;
  /// Follow the body with bytes that never end (chunked), until the client closes or the server
  /// stops.
  bool endlessBody = false;
};

/// Serves POST ".../api/<project id>/envelope/" on 127.0.0.1. Each request to such a path gets
/// the next answer of the script (200 without headers once the script is used up); any other
/// method or path gets 404. Every request is recorded, the wrong ones too, so a test sees them.
///
/// The server never decompresses a request body: the HTTP library would do so for a body marked
/// gzip, so the server takes the "Content-Encoding" header away before the body is read and puts
/// it back into the record.
class IngestionServer {
 public:
  /// Serves at once, at a port the system picks.
  IngestionServer();
  ~IngestionServer();
  IngestionServer(const IngestionServer&) = delete;
  IngestionServer& operator=(const IngestionServer&) = delete;

  /// The port; it stays the same across `stop` and `start`. 0 when none could be bound.
  int port() const { return port_; }
  /// "http://<userInfo>@127.0.0.1:<port><path>", e.g. dsn("k:s3cr3t", "/sub/dir/42").
  std::string dsn(const std::string& userInfo, const std::string& path) const;

  /// Closes the listening socket and every connection: connections are refused until `start`.
  /// Requests waiting out a delay end without an answer.
  void stop();
  /// Serves again on the same port. False when the port could not be bound again.
  bool start();
  bool isRunning() const;

  /// Appends answers to the script.
  void enqueue(IngestionAnswer answer);

  /// Every request so far, in order of arrival.
  std::vector<IngestionRequest> requests() const;
  /// Waits (real time) until at least `count` requests arrived; false on time-out.
  bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
  /// The most requests that were ever being answered at the same time.
  int mostInFlight() const;

 private:
  void serve(httplib::Server& server);
  void answer(const httplib::Request& request, httplib::Response& response);

  int port_ = 0;
  std::unique_ptr<LoopbackServer> server_;

  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  std::vector<IngestionRequest> requests_;
  std::deque<IngestionAnswer> script_;
  bool stopping_ = false;
  int inFlight_ = 0;
  int mostInFlight_ = 0;
};

}  // namespace testing_support
