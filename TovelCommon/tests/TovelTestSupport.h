#pragma once
// Fixtures shared by the TovelCommon tests: a fresh device root, the manual clock, and loopback
// HTTP servers that record what they receive.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/foundation/DeviceRoot.h"
#include "testing/LoopbackServer.h"
#include "testing/ScopedManualClock.h"
#include "testing/TemporaryFolder.h"

namespace tovel::test_support {

/// A temporary device root for one test, removed afterwards.
class ScopedDeviceRoot {
 public:
  ScopedDeviceRoot() { foundation::DeviceRoot::setPath(folder_.path()); }
  ~ScopedDeviceRoot() { foundation::DeviceRoot::setPath(""); }
  const std::string& path() const { return folder_.path(); }

 private:
  testing_support::TemporaryFolder folder_{"tovel-test"};
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

  LoopbackServer(std::string name, std::shared_ptr<RequestLog> log) : name_(std::move(name)), log_(std::move(log)) {}
  void setHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
  }
  int port() const { return server_.port(); }
  std::string baseURL() const { return server_.url("/"); }

 private:
  void answer(const httplib::Request& request, httplib::Response& response) {
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
  }

  std::string name_;
  std::shared_ptr<RequestLog> log_;
  std::mutex mutex_;
  Handler handler_;
  // Last, so that it stops serving before the members its handler uses are destroyed.
  testing_support::LoopbackServer server_{[this](httplib::Server& server) {
    server.Get(".*", [this](const httplib::Request& request, httplib::Response& response) { answer(request, response); });
  }};
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

}  // namespace tovel::test_support
