#include "platform/foundation/detail/NetworkEngine.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/dispatch/CallbackGuard.h"
#include "platform/dispatch/Thread.h"

namespace foundation::detail {

namespace {

using Clock = std::chrono::steady_clock;

/// The platform follows at most 16 redirects before failing with HTTPTooManyRedirects.
constexpr long kMaximumRedirects = 16;
/// The network thread wakes at least this often, so idle time-outs fire without a curl event.
constexpr auto kLongestPoll = std::chrono::milliseconds(500);
/// With no transfer there is nothing to time out: the network thread sleeps until start() or
/// cancel() wakes it (curl's own timers still shorten the wait); this only bounds that sleep.
constexpr auto kIdlePoll = std::chrono::hours(1);
/// Codes of the URL domain that Error.h does not name.
constexpr std::int64_t kFileIsDirectory = -1101;
constexpr std::int64_t kNoPermissionsToReadFile = -1102;
constexpr std::int64_t kSecureConnectionFailed = -1200;
constexpr std::int64_t kServerCertificateUntrusted = -1202;

std::string_view describeURLError(std::int64_t code) {
  switch (code) {
    case -999: return "cancelled";
    case -1000: return "bad URL";
    case -1001: return "The request timed out.";
    case -1002: return "unsupported URL";
    case -1003: return "A server with the specified hostname could not be found.";
    case -1004: return "Could not connect to the server.";
    case -1005: return "The network connection was lost.";
    case -1007: return "too many HTTP redirects";
    case -1008: return "resource unavailable";
    case -1011: return "bad server response";
    case -1016: return "cannot decode raw data";
    case -1100: return "The requested URL was not found on this server.";
    case kFileIsDirectory: return "file is directory";
    case kNoPermissionsToReadFile: return "The file cannot be read because of its permissions.";
    case -1103: return "resource exceeds maximum size";
    case kSecureConnectionFailed:
      return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case kServerCertificateUntrusted: return "The certificate for this server is invalid.";
    case -3000: return "cannot create file";
    case -3003: return "cannot write to file";
    default: return "An unknown error occurred.";
  }
}

std::int64_t urlErrorCode(CURLcode code) {
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL: return static_cast<std::int64_t>(URLError::UnsupportedURL);
    case CURLE_URL_MALFORMAT: return static_cast<std::int64_t>(URLError::BadURL);
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST: return static_cast<std::int64_t>(URLError::CannotFindHost);
    case CURLE_COULDNT_CONNECT: return static_cast<std::int64_t>(URLError::CannotConnectToHost);
    case CURLE_OPERATION_TIMEDOUT: return static_cast<std::int64_t>(URLError::TimedOut);
    case CURLE_TOO_MANY_REDIRECTS: return static_cast<std::int64_t>(URLError::HTTPTooManyRedirects);
    case CURLE_BAD_CONTENT_ENCODING: return static_cast<std::int64_t>(URLError::CannotDecodeContentData);
    case CURLE_FILE_COULDNT_READ_FILE: return static_cast<std::int64_t>(URLError::FileDoesNotExist);
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM: return static_cast<std::int64_t>(URLError::NetworkConnectionLost);
    case CURLE_WEIRD_SERVER_REPLY: return static_cast<std::int64_t>(URLError::BadServerResponse);
    case CURLE_SSL_CONNECT_ERROR: return kSecureConnectionFailed;
    case CURLE_PEER_FAILED_VERIFICATION: return kServerCertificateUntrusted;
    case CURLE_WRITE_ERROR: return static_cast<std::int64_t>(URLError::CannotWriteToFile);
    default: return static_cast<std::int64_t>(URLError::Unknown);
  }
}

Clock::duration secondsToDuration(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

/// One transfer on the network thread. Owned by the engine from start() to its end.
struct Transfer {
  std::uint64_t id = 0;
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  std::string body;  ///< curl reads the request body from here, without copying it
  std::optional<URL> url;
  bool isFile = false;
  std::shared_ptr<TransferObserver> observer;
  HTTPHeaderFields responseHeaders;
  bool responseDelivered = false;
  std::optional<Error> abortError;  ///< why a callback stopped the transfer
  bool handlerFailed = false;       ///< a callback caught an exception and stopped the transfer
  std::optional<Error> startError;  ///< the transfer cannot run; it ends with this at once
  Clock::duration idleTimeout{};
  Clock::time_point lastActivity;
  curl_off_t lastDown = 0;
  curl_off_t lastUp = 0;
  char errorBuffer[CURL_ERROR_SIZE] = {};

  ~Transfer() {
    if (easy != nullptr) curl_easy_cleanup(easy);
    curl_slist_free_all(headerList);
  }
};

void deliverResponse(Transfer& t) {
  if (t.responseDelivered) return;
  t.responseDelivered = true;
  URL responseURL = *t.url;
  long redirects = 0;
  curl_easy_getinfo(t.easy, CURLINFO_REDIRECT_COUNT, &redirects);
  char* effective = nullptr;
  if (redirects > 0 && curl_easy_getinfo(t.easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
    if (auto parsed = URL::parse(effective)) responseURL = *parsed;
  }
  std::shared_ptr<URLResponse> response;
  if (t.isFile) {
    curl_off_t length = -1;
    curl_easy_getinfo(t.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    response = std::make_shared<URLResponse>(responseURL, std::nullopt, length < 0 ? -1 : length);
  } else {
    long status = 0;
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &status);
    response = std::make_shared<HTTPURLResponse>(responseURL, static_cast<int>(status), t.responseHeaders);
  }
  t.observer->transferDidReceiveResponse(std::move(response));
}

/// Records that a callback caught an exception. Runs inside the catch block, so it throws nothing
/// itself: without memory for the error, the transfer still ends with a generic one.
void noteHandlerFailure(Transfer& t, const char* what) noexcept {
  t.handlerFailed = true;
  try {
    t.abortError = makeURLError(URLError::Unknown, *t.url, std::string("cannot handle the response: ") + what);
  } catch (...) {
  }
}

/// Runs `body` for a curl callback through the shared barrier: what it throws is logged, the
/// transfer is marked failed and false tells the callback to stop curl.
template <typename Body>
bool runGuarded(Transfer& t, const char* callback, Body&& body) noexcept {
  return dispatch::guardCallback(callback, std::forward<Body>(body), [&t](const char* what) {
    noteHandlerFailure(t, what);
    return false;
  });
}

std::size_t onBody(char* bytes, std::size_t size, std::size_t count, void* context) noexcept {
  auto& t = *static_cast<Transfer*>(context);
  std::size_t length = size * count;
  t.lastActivity = Clock::now();
  const bool keepGoing = runGuarded(t, "network body", [&] {
    deliverResponse(t);
    if (auto error = t.observer->transferDidReceiveData(std::string_view(bytes, length))) {
      t.abortError = std::move(error);
      return false;
    }
    return true;
  });
  return keepGoing ? length : 0;  // anything but `length` makes curl stop with CURLE_WRITE_ERROR
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

std::size_t onHeader(char* bytes, std::size_t size, std::size_t count, void* context) noexcept {
  auto& t = *static_cast<Transfer*>(context);
  std::size_t length = size * count;
  t.lastActivity = Clock::now();
  std::string_view line(bytes, length);
  const bool keepGoing = runGuarded(t, "network header", [&] {
    if (line.starts_with("HTTP/")) {
      // Each response of a redirect chain (and each interim 1xx) starts afresh: only the last counts.
      t.responseHeaders = HTTPHeaderFields();
      return true;
    }
    std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && colon > 0) {
      t.responseHeaders.add(trimmed(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
    }
    return true;
  });
  return keepGoing ? length : 0;
}

int onProgress(void* context, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) noexcept {
  auto& t = *static_cast<Transfer*>(context);
  if (downloaded != t.lastDown || uploaded != t.lastUp) {
    t.lastDown = downloaded;
    t.lastUp = uploaded;
    t.lastActivity = Clock::now();
  }
  return 0;
}

/// Loopback addresses never go through a proxy, whatever the environment says.
std::string noProxyList() {
  std::string list = "localhost,127.0.0.1,::1";
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    if (const char* value = std::getenv(name); value != nullptr && *value != '\0') {
      list += ',';
      list += value;
      break;
    }
  }
  return list;
}

/// Checks a file:// URL before curl reads it, so that the platform's distinct errors come back.
std::optional<Error> checkFileURL(const URL& url) {
  auto host = url.host();
  if (host && *host != "localhost") return makeURLError(URLError::UnsupportedURL, url, "file URL with a remote host");
  std::string path = url.path();
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == EACCES) return makeURLError(kNoPermissionsToReadFile, url, path);
    return makeURLError(URLError::FileDoesNotExist, url, path);
  }
  if (S_ISDIR(info.st_mode)) return makeURLError(kFileIsDirectory, url, path);
  if (::access(path.c_str(), R_OK) != 0) return makeURLError(kNoPermissionsToReadFile, url, path);
  return std::nullopt;
}

void setMethodAndBody(Transfer& t, const URLRequest& request) {
  const std::string& method = request.httpMethod();
  if (request.httpBody() || method == "POST") {
    if (request.httpBody()) t.body = request.httpBody()->bytes();
    curl_easy_setopt(t.easy, CURLOPT_POST, 1L);
    curl_easy_setopt(t.easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t.body.size()));
    curl_easy_setopt(t.easy, CURLOPT_POSTFIELDS, t.body.data());
    if (method != "POST") curl_easy_setopt(t.easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  } else if (method == "HEAD") {
    curl_easy_setopt(t.easy, CURLOPT_NOBODY, 1L);
  } else if (method != "GET") {
    curl_easy_setopt(t.easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  }
}

/// True for an HTTP token (method or field name): visible characters other than separators.
bool isToken(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c <= ' ' || c >= 127 || std::string_view("\"(),/:;<=>?@[\\]{}").find(c) != std::string_view::npos) return false;
  }
  return true;
}

/// A field value may not break the line it is sent on.
bool isFieldValue(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; }

/// Refuses what would let a caller's text rewrite the request line or add header lines.
std::optional<Error> checkRequestText(const URLRequest& request, const HTTPHeaderFields& additional) {
  if (!isToken(request.httpMethod())) {
    return makeURLError(URLError::Unknown, request.url(), "cannot send the request: its method is not an HTTP token");
  }
  for (const HTTPHeaderFields* fields : {&request.allHTTPHeaderFields(), &additional}) {
    for (const auto& [name, value] : *fields) {
      if (!isToken(name) || !isFieldValue(value)) {
        return makeURLError(URLError::Unknown, request.url(),
                            "cannot send header field \"" + name + "\": it holds a line break or separator");
      }
    }
  }
  return std::nullopt;
}

void setHeaders(Transfer& t, const URLRequest& request, const HTTPHeaderFields& additional) {
  auto append = [&](const std::string& name, const std::string& value) {
    // curl sends "Name;" as a field with an empty value; "Name:" would remove the field instead.
    std::string line = value.empty() ? name + ";" : name + ": " + value;
    t.headerList = curl_slist_append(t.headerList, line.c_str());
  };
  for (const auto& [name, value] : request.allHTTPHeaderFields()) append(name, value);
  for (const auto& [name, value] : additional) {
    if (!request.valueForHTTPHeaderField(name)) append(name, value);
  }
  // Without this curl waits up to a second for "100 Continue" before sending a larger body.
  t.headerList = curl_slist_append(t.headerList, "Expect:");
  curl_easy_setopt(t.easy, CURLOPT_HTTPHEADER, t.headerList);
}

std::optional<Error> configure(Transfer& t, const URLRequest& request, const TransferOptions& options) {
  const URL& url = request.url();
  const std::string& scheme = url.scheme();
  t.isFile = scheme == "file";
  if (scheme != "http" && scheme != "https" && !t.isFile) {
    return makeURLError(URLError::UnsupportedURL, url, "scheme not supported");
  }
  if (!t.isFile && !url.host()) return makeURLError(URLError::BadURL, url, "no host");
  if (t.isFile) {
    if (auto error = checkFileURL(url)) return error;
  } else if (auto error = checkRequestText(request, options.additionalHeaders)) {
    return error;
  }
  t.easy = curl_easy_init();
  if (t.easy == nullptr) return makeURLError(URLError::Unknown, url, "cannot create a transfer");

  std::string text = url.absoluteString();
  if (std::size_t hash = text.find('#'); hash != std::string::npos) text.resize(hash);
  curl_easy_setopt(t.easy, CURLOPT_URL, text.c_str());
  curl_easy_setopt(t.easy, CURLOPT_PRIVATE, &t);
  curl_easy_setopt(t.easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(t.easy, CURLOPT_ERRORBUFFER, t.errorBuffer);
  curl_easy_setopt(t.easy, CURLOPT_PROTOCOLS_STR, "http,https,file");
  curl_easy_setopt(t.easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(t.easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(t.easy, CURLOPT_MAXREDIRS, kMaximumRedirects);
  curl_easy_setopt(t.easy, CURLOPT_ACCEPT_ENCODING, "");
  // Never destroyed, as the engine itself: a transfer started by a worker thread while the process
  // exits must not read a string the exit handlers have freed.
  static const std::string& noProxy = *new std::string(noProxyList());
  curl_easy_setopt(t.easy, CURLOPT_NOPROXY, noProxy.c_str());
  curl_easy_setopt(t.easy, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(t.easy, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(t.easy, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(t.easy, CURLOPT_HEADERDATA, &t);
  curl_easy_setopt(t.easy, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(t.easy, CURLOPT_XFERINFODATA, &t);
  curl_easy_setopt(t.easy, CURLOPT_NOPROGRESS, 0L);
  if (options.resourceTimeoutSeconds > 0) {
    double ms = std::min(options.resourceTimeoutSeconds * 1000.0, 2147483647.0);
    curl_easy_setopt(t.easy, CURLOPT_TIMEOUT_MS, static_cast<long>(ms));
  }
  if (!t.isFile) {
    setMethodAndBody(t, request);
    setHeaders(t, request, options.additionalHeaders);
  }
  return std::nullopt;
}

}  // namespace

Error makeURLError(std::int64_t code, const URL& url, std::string_view debugDescription) {
  Dictionary info{{kLocalizedDescriptionKey, std::string(describeURLError(code))},
                  {"NSErrorFailingURLStringKey", url.absoluteString()},
                  {"NSErrorFailingURLKey", url}};
  if (!debugDescription.empty()) info.set(kDebugDescriptionKey, std::string(debugDescription));
  return Error(kURLErrorDomain, code, std::move(info));
}

Error makeURLError(URLError code, const URL& url, std::string_view debugDescription) {
  return makeURLError(static_cast<std::int64_t>(code), url, debugDescription);
}

struct NetworkEngine::Impl {
  CURLM* multi = nullptr;

  // Shared with other threads, under `mutex`.
  std::mutex mutex;
  std::uint64_t lastId = 0;
  std::vector<std::unique_ptr<Transfer>> toAdd;
  std::vector<std::uint64_t> toCancel;

  // Network thread only.
  std::unordered_map<std::uint64_t, std::unique_ptr<Transfer>> active;

  void run() {
    for (;;) {
      takeCommands();
      int running = 0;
      curl_multi_perform(multi, &running);
      while (CURLMsg* message = curl_multi_info_read(multi, &running)) {
        if (message->msg != CURLMSG_DONE) continue;
        Transfer* t = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &t);
        CURLcode result = message->data.result;
        std::optional<Error> error;
        if (t->abortError) {
          error = *t->abortError;
        } else if (t->handlerFailed) {
          error = makeURLError(URLError::Unknown, *t->url, "cannot handle the response");
        } else if (result != CURLE_OK) {
          error = makeURLError(urlErrorCode(result), *t->url,
                               t->errorBuffer[0] ? t->errorBuffer : curl_easy_strerror(result));
        }
        end(t->id, std::move(error));
      }
      expireIdleTransfers();
      curl_multi_poll(multi, nullptr, 0, pollTimeoutMs(), nullptr);
    }
  }

  void takeCommands() {
    std::vector<std::unique_ptr<Transfer>> adds;
    std::vector<std::uint64_t> cancels;
    {
      std::lock_guard lock(mutex);
      adds.swap(toAdd);
      cancels.swap(toCancel);
    }
    for (auto& t : adds) {
      std::uint64_t id = t->id;
      bool failed = t->startError.has_value();
      active.emplace(id, std::move(t));
      Transfer& added = *active[id];
      if (failed) {
        end(id, added.startError);
        continue;
      }
      added.lastActivity = Clock::now();
      curl_multi_add_handle(multi, added.easy);
    }
    for (std::uint64_t id : cancels) {
      auto it = active.find(id);
      if (it != active.end()) end(id, makeURLError(URLError::Cancelled, *it->second->url));
    }
  }

  void expireIdleTransfers() {
    auto now = Clock::now();
    std::vector<std::uint64_t> expired;
    for (auto& [id, t] : active) {
      if (now - t->lastActivity >= t->idleTimeout) expired.push_back(id);
    }
    for (std::uint64_t id : expired) {
      end(id, makeURLError(URLError::TimedOut, *active[id]->url, "no data for the request's time-out"));
    }
  }

  int pollTimeoutMs() const {
    if (active.empty()) return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(kIdlePoll).count());
    auto wait = std::chrono::duration_cast<Clock::duration>(kLongestPoll);
    auto now = Clock::now();
    for (const auto& [id, t] : active) wait = std::min(wait, t->lastActivity + t->idleTimeout - now);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wait).count() + 1;
    return static_cast<int>(std::clamp<long long>(ms, 1, 500));
  }

  void end(std::uint64_t id, std::optional<Error> error) {
    auto it = active.find(id);
    if (it == active.end()) return;
    std::unique_ptr<Transfer> t = std::move(it->second);
    active.erase(it);
    if (t->easy != nullptr && !t->startError) curl_multi_remove_handle(multi, t->easy);
    if (!error) deliverResponse(*t);
    auto observer = std::move(t->observer);
    t.reset();
    observer->transferDidEnd(std::move(error));
  }
};

NetworkEngine& NetworkEngine::shared() {
  static NetworkEngine* engine = new NetworkEngine();
  return *engine;
}

NetworkEngine::NetworkEngine() : impl_(new Impl) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  impl_->multi = curl_multi_init();
  dispatch::startThread("network", [impl = impl_] { impl->run(); }).detach();
}

std::uint64_t NetworkEngine::start(const URLRequest& request, const TransferOptions& options,
                                   std::shared_ptr<TransferObserver> observer) {
  auto t = std::make_unique<Transfer>();
  t->url = request.url();
  t->observer = std::move(observer);
  double idle = options.idleTimeoutSeconds;
  t->idleTimeout = secondsToDuration(std::isfinite(idle) && idle > 0 ? std::min(idle, 1e9) : 60.0);
  t->startError = configure(*t, request, options);
  std::lock_guard lock(impl_->mutex);
  t->id = ++impl_->lastId;
  std::uint64_t id = t->id;
  impl_->toAdd.push_back(std::move(t));
  curl_multi_wakeup(impl_->multi);
  return id;
}

void NetworkEngine::cancel(std::uint64_t transfer) {
  std::lock_guard lock(impl_->mutex);
  impl_->toCancel.push_back(transfer);
  curl_multi_wakeup(impl_->multi);
}

}  // namespace foundation::detail
