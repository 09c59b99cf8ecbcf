#pragma once
// Fixtures shared by the TovelCommon tests: a fresh device root, the manual clock, and loopback
// HTTP servers that record what they receive.

#include <httplib.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "testing/ScopedManualClock.h"
#include "platform/foundation/DeviceRoot.h"

namespace tovel::testing {

/// A temporary device root for one test, removed afterwards.
class ScopedDeviceRoot {
 public:
  ScopedDeviceRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tovel-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? pattern : std::string();
    foundation::DeviceRoot::setPathForTesting(path_);
  }
  ~ScopedDeviceRoot() {
    foundation::DeviceRoot::setPathForTesting("");
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

using testing_support::ScopedManualClock;

/// One request as a loopback server saw it.
struct ReceivedRequest {
  std::string method;
  std::string path;
  std::string query;  ///< the raw query text after "?"
  std::string serverName;
};

/// Requests in the order they arrived, across several servers.
class RequestLog {
 public:
  void add(ReceivedRequest request) {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
  }
  std::vector<ReceivedRequest> all() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  std::size_t size() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
  }
  void clear() {
    std::lock_guard lock(mutex_);
    requests_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<ReceivedRequest> requests_;
};

/// An HTTP server on 127.0.0.1 with an ephemeral port. Every GET is logged, then answered by the
/// current handler (default: 200 with an empty body). The handler may be changed at any time.
class LoopbackServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  LoopbackServer(std::string name, std::shared_ptr<RequestLog> log) : name_(std::move(name)), log_(std::move(log)) {
    server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
      // The raw target keeps "+" and "/" exactly as sent.
      const auto question = request.target.find('?');
      ReceivedRequest received{request.method, request.path,
                               question == std::string::npos ? std::string() : request.target.substr(question + 1),
                               name_};
      log_->add(received);
      Handler handler;
      {
        std::lock_guard lock(mutex_);
        handler = handler_;
      }
      if (handler) handler(request, response);
    });
    // One request per connection: a kept-alive connection would hold stop() for seconds.
    server_.set_keep_alive_max_count(1);
    port_ = server_.bind_to_any_port("127.0.0.1");
    // The socket listens from bind_to_any_port on: early connections wait in its backlog.
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~LoopbackServer() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }
  void setHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
  }
  int port() const { return port_; }
  std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  std::string name_;
  std::shared_ptr<RequestLog> log_;
  httplib::Server server_;
  std::mutex mutex_;
  Handler handler_;
  int port_ = 0;
  std::thread thread_;
};

/// A loopback port that refuses connections: bound but never listening.
class RefusingPort {
 public:
  RefusingPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      socklen_t length = sizeof address;
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
      port_ = ntohs(address.sin_port);
    }
  }
  ~RefusingPort() {
    if (fd_ >= 0) ::close(fd_);
  }
  std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace tovel::testing
