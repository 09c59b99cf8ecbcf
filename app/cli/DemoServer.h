#pragma once
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Result.h"

namespace httplib {
class Server;
}

namespace fendrel::cli {

/// The demo's outside world on loopback (127.0.0.1, a port the system picks): the configuration
/// host serving the demo configuration at the app's configuration path, the filter-list server
/// serving the demo lists and the icons of its lists and apps beside it, and an analytics track
/// endpoint that records the events it receives. Serves on a thread of its own until destroyed.
class DemoServer {
 public:
  /// Binds the server for the files of `demoFolder` ("config.json", "lists/<name>" and
  /// "icons/<name>"); the address is known from here on, and requests are answered once serve()
  /// has been called.
  static foundation::Result<std::unique_ptr<DemoServer>> bind(const std::string& demoFolder);
  /// Starts answering requests on the server's own thread.
  void serve();
  ~DemoServer();
  DemoServer(const DemoServer&) = delete;
  DemoServer& operator=(const DemoServer&) = delete;

  /// "http://127.0.0.1:<port>/", the configuration base.
  std::string baseURL() const;
  /// The track endpoint "http://127.0.0.1:<port>/track/".
  std::string trackURL() const;
  /// The names of the analytics events received so far, in order.
  std::vector<std::string> receivedEvents() const;

 private:
  DemoServer(std::string demoFolder, int port);
  void recordTrack(const std::string& target);

  const std::string demoFolder_;
  int port_ = 0;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

}  // namespace fendrel::cli
