#pragma once
// Test support: an HTTP server on the loopback address for the life of one object.

#include <httplib.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace testing_support {

/// A cpp-httplib server on 127.0.0.1 at `port`, or at a port the system picks when `port` is 0
/// (the default). The constructor binds, lets
/// `routes` add the handlers and options, and serves on a thread of its own; the destructor stops
/// the server and waits for that thread. Connections carry one request each unless `routes` says
/// otherwise, so that stopping never waits for an idle kept-alive connection. Handlers run on
/// the server's threads.
class LoopbackServer {
 public:
  explicit LoopbackServer(const std::function<void(httplib::Server&)>& routes, int port = 0);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  /// The bound port; 0 when no port could be bound (nothing is served then).
  int port() const { return port_; }
  /// "http://127.0.0.1:<port>" followed by `path`.
  std::string url(const std::string& path = "/") const;
  /// The server itself, for tests that add a route before the request that needs it is made.
  httplib::Server& server() { return server_; }

 private:
  httplib::Server server_;
  std::thread thread_;
  std::atomic<bool> listenEnded_ = false;
  int port_ = 0;
};

}  // namespace testing_support
