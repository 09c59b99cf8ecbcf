#include "app/cli/DemoServer.h"

#include <httplib.h>

#include "app/cli/CLIError.h"
#include "app/core/Singleton.h"
#include "platform/dispatch/Thread.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/Value.h"

namespace fendrel::cli {
namespace {

constexpr const char* kHost = "127.0.0.1";

void serveFile(const std::string& path, const char* contentType, httplib::Response& response) {
  auto data = foundation::FileManager::defaultManager().readFile(path);
  if (!data) {
    response.status = 404;
    response.set_content("not found", "text/plain");
    return;
  }
  response.set_content(data->bytes(), contentType);
}

/// The value of `key` in the query of a request target, taken literally: the track client sends
/// Base64 unencoded, so a "+" is a "+", not a space.
std::string rawQueryValue(const std::string& target, const std::string& key) {
  const auto query = target.find('?');
  if (query == std::string::npos) return {};
  std::string_view rest = std::string_view(target).substr(query + 1);
  while (!rest.empty()) {
    const auto amp = rest.find('&');
    std::string_view pair = rest.substr(0, amp);
    if (pair.starts_with(key + "=")) return std::string(pair.substr(key.size() + 1));
    rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
  }
  return {};
}

}  // namespace

DemoServer::DemoServer(std::string demoFolder, int port) : demoFolder_(std::move(demoFolder)), port_(port) {}

foundation::Result<std::unique_ptr<DemoServer>> DemoServer::bind(const std::string& demoFolder) {
  std::unique_ptr<DemoServer> demo(new DemoServer(demoFolder, 0));
  demo->server_ = std::make_unique<httplib::Server>();
  httplib::Server& server = *demo->server_;
  DemoServer* self = demo.get();

  server.Get("/" + std::string(Singleton::kConfigPath), [self](const httplib::Request&, httplib::Response& response) {
    serveFile(self->demoFolder_ + "/config.json", "application/json", response);
  });
  // The lists and the icons of lists and apps, beside the configuration: the names in it are
  // relative to its own address. Only plain file names of the two folders are served.
  for (const auto& [folder, contentType] : {std::pair{"lists", "application/json"}, std::pair{"icons", "image/png"}}) {
    server.Get("/Skyvane/" + std::string(folder) + "/([^/]+)",
               [self, folder, contentType](const httplib::Request& request, httplib::Response& response) {
                 const std::string name = request.matches[1];
                 if (!foundation::DeviceRoot::isPlainName(name)) {
                   response.status = 404;
                   return;
                 }
                 serveFile(self->demoFolder_ + "/" + folder + "/" + name, contentType, response);
               });
  }
  server.Get("/track/", [self](const httplib::Request& request, httplib::Response& response) {
    self->recordTrack(request.target);
    response.set_content("1", "text/plain");
  });

  // One request per connection: a client's idle keep-alive connection would otherwise hold the
  // server's shutdown for the length of the keep-alive time-out.
  server.set_keep_alive_max_count(1);
  demo->port_ = server.bind_to_any_port(kHost);
  if (demo->port_ <= 0) {
    return makeCLIError(DemoErrorCode::CannotListen, "cannot start the demo server on 127.0.0.1");
  }
  return demo;
}

void DemoServer::serve() {
  if (!thread_.joinable()) thread_ = dispatch::startThread("demo-server", [this] { server_->listen_after_bind(); });
}

DemoServer::~DemoServer() {
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string DemoServer::baseURL() const { return "http://" + std::string(kHost) + ":" + std::to_string(port_) + "/"; }

std::string DemoServer::trackURL() const { return baseURL() + "track/"; }

std::vector<std::string> DemoServer::receivedEvents() const {
  std::lock_guard lock(mutex_);
  return events_;
}

void DemoServer::recordTrack(const std::string& target) {
  std::string name = "(unreadable event)";
  if (auto body = foundation::base64DecodedData(rawQueryValue(target, "data"))) {
    auto json = foundation::JSONSerialization::JSONObjectWithData(body->view());
    if (json) {
      if (auto event = (*json)["event"].asString()) name = *event;
    }
  }
  std::lock_guard lock(mutex_);
  events_.push_back(std::move(name));
}

}  // namespace fendrel::cli
