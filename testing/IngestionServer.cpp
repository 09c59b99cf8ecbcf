#include "testing/IngestionServer.h"

#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "testing/LoopbackServer.h"

namespace testing_support {
namespace {

// Where the request's "Content-Encoding" waits while the library reads the body.
constexpr const char* kHeldEncoding = "X-Ingestion-Held-Content-Encoding";

// The inode of the server's end of the TCP connection from 127.0.0.1:`remotePort` to
// 127.0.0.1:`localPort`, as the kernel lists it; empty when it is not listed.
std::string connectionInode(int localPort, int remotePort) {
  char local[32], remote[32];
  std::snprintf(local, sizeof local, "0100007F:%04X", static_cast<unsigned>(localPort));
  std::snprintf(remote, sizeof remote, "0100007F:%04X", static_cast<unsigned>(remotePort));
  std::ifstream table("/proc/self/net/tcp");
  std::string line;
  std::getline(table, line);  // the column titles
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, localAddress, remoteAddress, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> localAddress >> remoteAddress >> state >> queues >> timer >> retransmits >> uid >> timeout >>
        inode;
    if (localAddress == local && remoteAddress == remote) return inode;
  }
  return {};
}

// Ends the server's side of the connection from `remotePort` to `localPort` without a word. The
// library keeps the socket to itself, so it is found by name among the process's descriptors.
// Only the thread answering on that connection closes it, so the descriptor found stays valid.
void dropConnection(int localPort, int remotePort) {
  const auto inode = connectionInode(localPort, remotePort);
  if (inode.empty()) return;
  const std::string target = "socket:[" + inode + "]";
  DIR* folder = ::opendir("/proc/self/fd");
  if (!folder) return;
  while (const dirent* entry = ::readdir(folder)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0') continue;
    char link[128] = {};
    const std::string path = std::string("/proc/self/fd/") + entry->d_name;
    const auto length = ::readlink(path.c_str(), link, sizeof link - 1);
    if (length > 0 && target == std::string(link, static_cast<std::size_t>(length))) {
      ::shutdown(static_cast<int>(fd), SHUT_RDWR);
      break;
    }
  }
  ::closedir(folder);
}

}  // namespace

std::string IngestionRequest::header(const std::string& name) const {
  const auto found = headers.find(name);
  return found == headers.end() ? std::string() : found->second;
}

IngestionServer::IngestionServer() {
  // The library answers on a connection this server may have shut down; writing there must fail
  // with an error, not end the test process.
  std::signal(SIGPIPE, SIG_IGN);
  server_ = std::make_unique<LoopbackServer>([this](httplib::Server& server) { serve(server); });
  port_ = server_->port();
}

IngestionServer::~IngestionServer() { stop(); }

std::string IngestionServer::dsn(const std::string& userInfo, const std::string& path) const {
  return "http://" + userInfo + "@127.0.0.1:" + std::to_string(port_) + path;
}

void IngestionServer::serve(httplib::Server& server) {
  server.set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
    // The request object is the library's own, modifiable one; only the handler sees it as const.
    auto& headers = const_cast<httplib::Headers&>(request.headers);
    const auto [first, last] = headers.equal_range("Content-Encoding");
    std::vector<std::string> values;
    for (auto it = first; it != last; ++it) values.push_back(it->second);
    headers.erase(first, last);
    for (auto& value : values) headers.emplace(kHeldEncoding, std::move(value));
    return httplib::Server::HandlerResponse::Unhandled;
  });
  const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    answer(request, response);
  };
  server.Post(".*", handler);
  server.Get(".*", handler);
  server.Put(".*", handler);
  server.Delete(".*", handler);
}

void IngestionServer::answer(const httplib::Request& request, httplib::Response& response) {
  IngestionRequest record;
  record.method = request.method;
  record.path = request.path;
  record.body = request.body;
  record.arrival = std::chrono::steady_clock::now();
  for (const auto& [name, value] : request.headers) {
    record.headers.emplace(name == kHeldEncoding ? "Content-Encoding" : name, value);
  }
  static const std::regex envelopePath("(/.*)?/api/[0-9]+/envelope/");
  const bool expected = request.method == "POST" && std::regex_match(request.path, envelopePath);

  std::unique_lock guard(lock_);
  requests_.push_back(std::move(record));
  mostInFlight_ = std::max(mostInFlight_, ++inFlight_);
  changed_.notify_all();
  IngestionAnswer scripted;
  if (!expected) {
    scripted.status = 404;
  } else if (!script_.empty()) {
    scripted = std::move(script_.front());
    script_.pop_front();
  }
  if (scripted.delay.count() > 0) {
    changed_.wait_for(guard, scripted.delay, [&] { return stopping_; });
  }
  const bool drop = scripted.dropConnection || stopping_;
  --inFlight_;
  guard.unlock();

  if (drop) {
    dropConnection(port_, request.remote_port);
    return;
  }
  response.status = scripted.status;
  for (const auto& [name, value] : scripted.headers) response.headers.emplace(name, value);
  if (!scripted.endlessBody) {
    response.body = scripted.body;
    return;
  }
  response.set_chunked_content_provider("application/octet-stream",
                                        [this, first = scripted.body](std::size_t offset, httplib::DataSink& sink) {
                                          static const std::string chunk(64 * 1024, 'x');
                                          {
                                            std::lock_guard stopped(lock_);
                                            if (stopping_) return false;
                                          }
                                          if (offset == 0 && !first.empty() && !sink.write(first.data(), first.size())) {
                                            return false;
                                          }
                                          return sink.write(chunk.data(), chunk.size());
                                        });
}

void IngestionServer::stop() {
  {
    std::lock_guard guard(lock_);
    stopping_ = true;
    changed_.notify_all();
  }
  server_.reset();
  std::lock_guard guard(lock_);
  stopping_ = false;
}

bool IngestionServer::start() {
  if (server_) return true;
  if (port_ == 0) return false;
  auto server = std::make_unique<LoopbackServer>([this](httplib::Server& s) { serve(s); }, port_);
  if (server->port() == 0) return false;
  server_ = std::move(server);
  return true;
}

bool IngestionServer::isRunning() const { return server_ != nullptr; }

void IngestionServer::enqueue(IngestionAnswer answer) {
  std::lock_guard guard(lock_);
  script_.push_back(std::move(answer));
}

std::vector<IngestionRequest> IngestionServer::requests() const {
  std::lock_guard guard(lock_);
  return requests_;
}

bool IngestionServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock guard(lock_);
  return changed_.wait_for(guard, timeout, [&] { return requests_.size() >= count; });
}

int IngestionServer::mostInFlight() const {
  std::lock_guard guard(lock_);
  return mostInFlight_;
}

}  // namespace testing_support
