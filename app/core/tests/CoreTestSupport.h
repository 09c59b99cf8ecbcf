#pragma once
// Fixtures shared by the core tests: a fresh device root with the app's bundle and its group
// container, the manual clock, and a loopback HTTP server.

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/core/CloudObject.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/Value.h"
#include "testing/LoopbackServer.h"
#include "testing/ScopedManualClock.h"
#include "testing/TemporaryFolder.h"

namespace fendrel::test_support {

/// A temporary device root holding "Fendrel.app", entitled to the app group, as the main bundle.
/// With `entitled` false the bundle lists no group, so there is no container.
class ScopedDeviceRoot {
 public:
  explicit ScopedDeviceRoot(bool entitled = true) {
    foundation::DeviceRoot::setPath(folder_.path());
    foundation::Dictionary info{{"CFBundleIdentifier", "com.morvit.Fendrel"}};
    if (entitled) info.set(foundation::kApplicationGroupsKey, foundation::Array{kAppGroupIdentifier});
    auto installed = foundation::DeviceRoot::installBundle("Fendrel.app", info, {});
    (void)installed;
    foundation::Bundle::setMainBundleName("Fendrel.app");
  }
  ~ScopedDeviceRoot() {
    foundation::Bundle::setMainBundleName("");
    foundation::DeviceRoot::setPath("");
  }
  const std::string& path() const { return folder_.path(); }
  std::string cachesPath() const {
    return folder_.path() + "/containers/" + kAppGroupIdentifier + "/Library/Caches";
  }

 private:
  testing_support::TemporaryFolder folder_{"fendrel-core"};
};

using testing_support::ScopedManualClock;

/// An HTTP server on 127.0.0.1 with an ephemeral port; every GET goes to the current handler
/// (default: 404) and is counted.
class LoopbackServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  void setHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
  }
  int requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  std::string url(const std::string& path) const { return server_.url(path); }

 private:
  void answer(const httplib::Request& request, httplib::Response& response) {
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
  }

  mutable std::mutex mutex_;
  Handler handler_;
  int requests_ = 0;
  // Last, so that it stops serving before the members its handler uses are destroyed.
  testing_support::LoopbackServer server_{[this](httplib::Server& server) {
    server.Get(".*", [this](const httplib::Request& request, httplib::Response& response) { answer(request, response); });
  }};
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

}  // namespace fendrel::test_support
