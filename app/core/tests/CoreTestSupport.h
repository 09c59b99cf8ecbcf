#pragma once
// Fixtures shared by the core tests: a fresh device root with the app's bundle and its group
// container, the manual clock, and a loopback HTTP server.

#include <httplib.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/core/CloudObject.h"
#include "platform/dispatch/Clock.h"
#include "testing/ScopedManualClock.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/Value.h"

namespace fendrel::testing {

/// A temporary device root holding "Fendrel.app", entitled to the app group, as the main bundle.
/// With `entitled` false the bundle lists no group, so there is no container.
class ScopedDeviceRoot {
 public:
  explicit ScopedDeviceRoot(bool entitled = true) {
    std::string pattern = (std::filesystem::temp_directory_path() / "fendrel-core-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? pattern : std::string();
    foundation::DeviceRoot::setPathForTesting(path_);
    foundation::Dictionary info{{"CFBundleIdentifier", "com.morvit.Fendrel"}};
    if (entitled) info.set(foundation::kApplicationGroupsKey, foundation::Array{kAppGroupIdentifier});
    auto installed = foundation::DeviceRoot::installBundle("Fendrel.app", info, {});
    (void)installed;
    foundation::Bundle::setMainBundleName("Fendrel.app");
  }
  ~ScopedDeviceRoot() {
    foundation::Bundle::setMainBundleName("");
    foundation::DeviceRoot::setPathForTesting("");
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string cachesPath() const {
    return path_ + "/containers/" + kAppGroupIdentifier + "/Library/Caches";
  }

 private:
  std::string path_;
};

using testing_support::ScopedManualClock;

/// An HTTP server on 127.0.0.1 with an ephemeral port; every GET goes to the current handler
/// (default: 404) and is counted.
class LoopbackServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  LoopbackServer() {
    server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
      Handler handler;
      {
        std::lock_guard lock(mutex_);
        ++requests_;
        handler = handler_;
      }
      if (handler) {
        handler(request, response);
      } else {
        response.status = 404;
      }
    });
    // One request per connection: a kept-alive connection would hold stop() until it times out.
    server_.set_keep_alive_max_count(1);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~LoopbackServer() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }
  void setHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
  }
  int requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  httplib::Server server_;
  mutable std::mutex mutex_;
  Handler handler_;
  int requests_ = 0;
  int port_ = 0;
  std::thread thread_;
};

/// Pumps the main queue until `done()` holds; false after 10 s of real time.
inline bool pumpUntil(const std::function<bool()>& done) { return dispatch::runMainLoopUntil(done, 10.0); }

/// A list entry as the configuration gives it.
inline foundation::Dictionary listDictionary(const std::string& id, const std::string& attachmentUrl,
                                             double modifiedAt = 1600000000.7) {
  return foundation::Dictionary{{"name", "List " + id}, {"modifiedAt", modifiedAt},
                                {"iconUrl", "icons/" + id + ".png"}, {"objectId", id},
                                {"attachmentUrl", attachmentUrl}, {"count", 12},
                                {"desc", "About " + id}, {"num", 1}};
}

}  // namespace fendrel::testing
