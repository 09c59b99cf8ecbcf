#include "testing/LoopbackServer.h"

namespace testing_support {

LoopbackServer::LoopbackServer(const std::function<void(httplib::Server&)>& routes, int port) {
  server_.set_keep_alive_max_count(1);
  if (routes) routes(server_);
  if (port > 0) {
    if (!server_.bind_to_port("127.0.0.1", port)) return;
  } else {
    port = server_.bind_to_any_port("127.0.0.1");
    if (port <= 0) return;
  }
  port_ = port;
  thread_ = std::thread([this] {
    server_.listen_after_bind();
    listenEnded_ = true;
  });
  // The socket already queues connections; waiting here makes stop() in the destructor certain
  // to find the server running rather than racing its start.
  while (!server_.is_running() && !listenEnded_) std::this_thread::yield();
}

LoopbackServer::~LoopbackServer() {
  server_.stop();
  if (thread_.joinable()) thread_.join();
}

std::string LoopbackServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace testing_support
