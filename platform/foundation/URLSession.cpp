#include "platform/foundation/URLSession.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/SystemCalls.h"
#include "platform/foundation/TextCase.h"
#include "platform/foundation/URLCache.h"
#include "platform/foundation/detail/NetworkEngine.h"

namespace foundation {

namespace {

constexpr double kDefaultRequestTimeout = 60.0;
constexpr double kDefaultResourceTimeout = 7 * 24 * 3600.0;

std::atomic<std::uint64_t> lastTaskIdentifier{0};

double positiveOr(double seconds, double fallback) {
  return std::isfinite(seconds) && seconds > 0 ? seconds : fallback;
}

/// A body sent with a content coding is decoded on the way, so its decoded length is not known.
bool isContentEncoded(const URLResponse& response) {
  auto http = dynamic_cast<const HTTPURLResponse*>(&response);
  if (http == nullptr) return false;
  auto coding = http->valueForHTTPHeaderField("Content-Encoding");
  return coding && !coding->empty() && *coding != "identity";
}

/// The cache was asked for an answer it does not hold.
constexpr std::int64_t kResourceUnavailable = static_cast<std::int64_t>(URLError::ResourceUnavailable);

/// The cache a session's tasks use: the shared one, none for an ephemeral session (which keeps
/// nothing between its loads).
std::shared_ptr<URLCache> cacheFor(const URLSession& session) {
  if (session.configuration().isEphemeral) return nullptr;
  return URLCache::shared();
}

/// True when a "Cache-Control" value holds the directive "no-store" (case-insensitive).
bool forbidsStoring(std::string_view cacheControl) {
  const std::string lowered = lowercased(cacheControl);
  std::size_t start = 0;
  while (start <= lowered.size()) {
    std::size_t comma = std::min(lowered.find(',', start), lowered.size());
    std::string_view directive = std::string_view(lowered).substr(start, comma - start);
    while (!directive.empty() && (directive.front() == ' ' || directive.front() == '\t')) directive.remove_prefix(1);
    while (!directive.empty() && (directive.back() == ' ' || directive.back() == '\t')) directive.remove_suffix(1);
    if (directive == "no-store") return true;
    start = comma + 1;
  }
  return false;
}

/// Only successful, storable answers to GET requests are kept: an error page must not be served
/// later in place of the resource.
bool isStorable(const URLRequest& request, const URLResponse& response) {
  if (request.httpMethod() != "GET") return false;
  auto http = dynamic_cast<const HTTPURLResponse*>(&response);
  if (http == nullptr || http->statusCode() < 200 || http->statusCode() > 299) return false;
  if (auto value = http->valueForHTTPHeaderField("Cache-Control"); value && forbidsStoring(*value)) return false;
  if (auto value = request.valueForHTTPHeaderField("Cache-Control"); value && forbidsStoring(*value)) return false;
  return true;
}

/// The body of a finished download: an open file without a name (or, where the system cannot make
/// one, a file named from the start). Letting it go closes and removes it.
struct DownloadFile {
  int fd = -1;
  std::string folder;
  std::string path;  ///< its name, once it has one

  DownloadFile() = default;
  DownloadFile(const DownloadFile&) = delete;
  DownloadFile& operator=(const DownloadFile&) = delete;
  ~DownloadFile() {
    if (fd >= 0) ::close(fd);
    if (!path.empty()) ::unlink(path.c_str());
  }

  /// A fresh name for the file in its folder, made on the first call; the descriptor's own path
  /// (readable, not movable) when no name can be made.
  std::string name() {
    if (!path.empty() || fd < 0) return path;
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    std::random_device random;
    for (int attempt = 0; attempt < 8; ++attempt) {
      const std::string candidate = folder + "/URLSessionDownload." + std::to_string(::getpid()) + "." +
                                    std::to_string(random());
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        path = candidate;
        return path;
      }
      if (errno != EEXIST) break;
    }
    return self;
  }
};

}  // namespace

void URLSessionDelegate::didBecomeInvalidWithError(const std::shared_ptr<URLSession>&, const std::optional<Error>&) {}
void URLSessionDelegate::didCompleteWithError(const std::shared_ptr<URLSession>&,
                                              const std::shared_ptr<URLSessionTask>&, const std::optional<Error>&) {}
void URLSessionDelegate::didWriteData(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionDownloadTask>&,
                                      std::int64_t, std::int64_t, std::int64_t) {}
void URLSessionDelegate::didFinishDownloadingTo(const std::shared_ptr<URLSession>&,
                                                const std::shared_ptr<URLSessionDownloadTask>&, const URL&) {}

URLSessionConfiguration URLSessionConfiguration::defaultSessionConfiguration() { return URLSessionConfiguration(); }

URLSessionConfiguration URLSessionConfiguration::ephemeralSessionConfiguration() {
  URLSessionConfiguration configuration;
  configuration.isEphemeral = true;
  return configuration;
}

/// Runs a task's life: start, the network thread's reports, and their delivery on the session's queue.
struct URLSessionTaskDriver {
  /// Hands the network thread's reports to the task. Holds the task until the transfer ends.
  class Observer final : public detail::TransferObserver {
   public:
    explicit Observer(std::shared_ptr<URLSessionTask> task) : task_(std::move(task)) {}
    void transferDidReceiveResponse(std::shared_ptr<URLResponse> response) override {
      receiveResponse(*task_, std::move(response));
    }
    std::optional<Error> transferDidReceiveData(std::string_view bytes) override { return receiveData(task_, bytes); }
    void transferDidEnd(std::optional<Error> error) override { end(task_, std::move(error)); }

   private:
    std::shared_ptr<URLSessionTask> task_;
  };

  /// The registered implementation of "resume". The state change is sent first, so that an
  /// observer of it sees the task before anything is sent; the transfer is then built from the
  /// current request as it stands.
  static void resume(const std::shared_ptr<URLSessionTask>& task) {
    std::optional<Error> failure;
    bool answered = false;
    {
      std::lock_guard transition(task->objectLock_);
      if (task->state() != URLSessionTask::State::Suspended) return;
      task->changeState(URLSessionTask::State::Running);
      std::lock_guard lock(task->mutex_);
      URLSession& session = *task->session_;
      if (!session.taskWillStart()) {
        failure = detail::makeURLError(URLError::Unknown, task->request_.url(),
                                       "cannot start task: the session was invalidated");
      } else if (task->kind_ == URLSessionTask::Kind::Download) {
        failure = createTemporaryFile(static_cast<URLSessionDownloadTask&>(*task));
      } else {
        answered = answerFromCache(static_cast<URLSessionDataTask&>(*task), failure);
      }
      if (!failure && !answered) {
        task->transfer_ = detail::NetworkEngine::shared().start(task->currentRequest_, transferOptions(*task),
                                                                std::make_shared<Observer>(task));
      }
    }
    if (failure || answered) end(task, std::move(failure));
  }

  /// For the policies that ask for cached data, fills the task with the cached answer and returns
  /// true. Without one, returnCacheDataDontLoad fails with "resource unavailable" and
  /// returnCacheDataElseLoad lets the task load. Every other policy loads: without freshness
  /// rules, a cached answer is never assumed to be current. Called with the task's lock held.
  static bool answerFromCache(URLSessionDataTask& task, std::optional<Error>& failure) {
    URLRequestCachePolicy policy = task.currentRequest_.cachePolicy();
    if (policy != URLRequestCachePolicy::ReturnCacheDataDontLoad &&
        policy != URLRequestCachePolicy::ReturnCacheDataElseLoad) {
      return false;
    }
    std::shared_ptr<URLCache> cache = cacheFor(*task.session_);
    std::optional<CachedURLResponse> cached = cache ? cache->cachedResponse(task.currentRequest_) : std::nullopt;
    if (!cached) {
      if (policy == URLRequestCachePolicy::ReturnCacheDataDontLoad) {
        failure = detail::makeURLError(kResourceUnavailable, task.request_.url(), "no cached answer for the request");
      }
      return false;
    }
    task.response_ = std::move(cached->response);
    task.body_ = std::move(cached->data).takeBytes();
    task.bytesReceived_ = static_cast<std::int64_t>(task.body_.size());
    task.bytesExpected_ = task.bytesReceived_;
    return true;
  }

  static void cancel(const std::shared_ptr<URLSessionTask>& task) {
    std::uint64_t transfer = 0;
    {
      std::lock_guard transition(task->objectLock_);
      bool started = false;
      {
        std::lock_guard lock(task->mutex_);
        if (task->ended_ || task->state_ == URLSessionTask::State::Canceling) return;
        started = task->state_ == URLSessionTask::State::Running;
      }
      task->changeState(URLSessionTask::State::Canceling);
      std::lock_guard lock(task->mutex_);
      if (started) {
        transfer = task->transfer_;
      } else {
        task->session_->taskWillStart();  // its cancellation is reported like an ended load
      }
    }
    // A running transfer ends on the network thread, which reports the cancellation, unless it
    // ended first; either way the task reports once.
    if (transfer != 0) {
      detail::NetworkEngine::shared().cancel(transfer);
    } else {
      end(task, detail::makeURLError(URLError::Cancelled, task->request_.url()));
    }
  }

  static detail::TransferOptions transferOptions(const URLSessionTask& task) {
    const URLSessionConfiguration& configuration = task.session_->configuration();
    detail::TransferOptions options;
    double idle = task.currentRequest_.hasExplicitTimeoutInterval() ? task.currentRequest_.timeoutInterval()
                                                              : configuration.timeoutIntervalForRequest;
    options.idleTimeoutSeconds = positiveOr(idle, kDefaultRequestTimeout);
    options.resourceTimeoutSeconds = positiveOr(configuration.timeoutIntervalForResource, kDefaultResourceTimeout);
    options.additionalHeaders = configuration.httpAdditionalHeaders;
    return options;
  }

  static std::optional<Error> createTemporaryFile(URLSessionDownloadTask& task) {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    if (ec) folder = "/tmp";
    // A file without a name goes with its descriptor, however the download or the process ends.
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    std::string path;
    if (fd < 0) {
      path = (folder / "URLSessionDownload.XXXXXX").string();
      fd = ::mkostemp(path.data(), O_CLOEXEC);
    }
    if (fd < 0) {
      return detail::makeURLError(URLError::CannotCreateFile, task.request_.url(),
                                  "cannot create a temporary file in " + folder.string() + ": " + std::strerror(errno));
    }
    task.fd_ = fd;
    task.tempFolder_ = folder.string();
    task.tempPath_ = std::move(path);
    return std::nullopt;
  }

  static void receiveResponse(URLSessionTask& task, std::shared_ptr<URLResponse> response) {
    std::lock_guard lock(task.mutex_);
    // The body has gone out by the time the answer arrives.
    const auto& body = task.currentRequest_.httpBody();
    task.bytesSent_ = body ? static_cast<std::int64_t>(body->size()) : 0;
    task.bytesExpected_ = isContentEncoded(*response) ? -1 : response->expectedContentLength();
    task.response_ = std::move(response);
  }

  static std::optional<Error> receiveData(const std::shared_ptr<URLSessionTask>& task, std::string_view bytes) {
    std::int64_t total = 0;
    std::int64_t expected = -1;
    bool cut = false;
    {
      std::lock_guard lock(task->mutex_);
      if (auto refused = refuseOverlongBody(*task, bytes.size())) return refused;
      if (const std::int64_t limit = task->bodyReadLimit_; limit > 0) {
        const auto room = static_cast<std::size_t>(limit - task->bytesReceived_);
        if (bytes.size() >= room) {
          bytes = bytes.substr(0, room);
          cut = true;
          task->bodyCut_ = true;
        }
      }
      if (task->kind_ == URLSessionTask::Kind::Data) {
        static_cast<URLSessionDataTask&>(*task).body_.append(bytes);
      } else {
        auto& download = static_cast<URLSessionDownloadTask&>(*task);
        if (const int err = writeFully(download.fd_, bytes)) {
          return detail::makeURLError(URLError::CannotWriteToFile, task->request_.url(),
                                      "cannot write a temporary file in " + download.tempFolder_ + ": " +
                                          std::strerror(err));
        }
      }
      task->bytesReceived_ += static_cast<std::int64_t>(bytes.size());
      total = task->bytesReceived_;
      expected = task->bytesExpected_;
    }
    if (task->kind_ == URLSessionTask::Kind::Download) {
      auto written = static_cast<std::int64_t>(bytes.size());
      task->session_->enqueue([task, written, total, expected] {
        if (auto delegate = task->session_->delegate()) {
          delegate->didWriteData(task->session_, std::static_pointer_cast<URLSessionDownloadTask>(task), written,
                                 total, expected);
        }
      });
    }
    if (cut) {
      // The load ends here, with what was kept; the error only stops the transfer, whose own end
      // then comes second and is ignored.
      end(task, std::nullopt);
      return detail::makeURLError(URLError::Cancelled, task->request_.url(), "the body read limit was reached");
    }
    return std::nullopt;
  }

  /// The error that ends a task whose body would pass its maximum length with `more` bytes, checked
  /// against the announced length before the first byte is kept. Called with the task's lock held.
  static std::optional<Error> refuseOverlongBody(const URLSessionTask& task, std::size_t more) {
    const std::int64_t limit = task.maximumBodyLength_;
    if (limit <= 0) return std::nullopt;
    // The read limit cuts the body before it can pass the maximum.
    if (task.bodyReadLimit_ > 0 && task.bodyReadLimit_ <= limit) return std::nullopt;
    const std::string limitText = std::to_string(limit) + " bytes";
    if (task.bytesExpected_ > limit) {
      return detail::makeURLError(URLError::DataLengthExceedsMaximum, task.request_.url(),
                                  "the answer announces " + std::to_string(task.bytesExpected_) +
                                      " bytes, more than the limit of " + limitText);
    }
    if (more > static_cast<std::uint64_t>(limit - task.bytesReceived_)) {
      return detail::makeURLError(URLError::DataLengthExceedsMaximum, task.request_.url(),
                                  "the answer is longer than the limit of " + limitText);
    }
    return std::nullopt;
  }

  /// Decides the task's outcome (the first call wins) and queues its delivery.
  static void end(const std::shared_ptr<URLSessionTask>& task, std::optional<Error> error) {
    {
      std::lock_guard lock(task->mutex_);
      if (task->ended_) return;
      task->ended_ = true;
      task->error_ = error;
    }
    if (task->kind_ == URLSessionTask::Kind::Data) {
      deliverData(std::static_pointer_cast<URLSessionDataTask>(task), std::move(error));
    } else {
      deliverDownload(std::static_pointer_cast<URLSessionDownloadTask>(task), std::move(error));
    }
  }

  static void deliverData(const std::shared_ptr<URLSessionDataTask>& task, std::optional<Error> error) {
    bool cut = false;
    std::optional<Data> data;
    std::shared_ptr<URLResponse> response;
    {
      std::lock_guard lock(task->mutex_);
      if (!error) {
        data = Data(std::move(task->body_));
        response = task->response_;
      }
      task->body_.clear();
      cut = task->bodyCut_;
    }
    // Stored before the completion runs, so that a request the completion makes can be answered.
    if (data && response && !cut && isStorable(task->currentRequest(), *response)) {
      if (auto cache = cacheFor(*task->session_)) cache->storeCachedResponse(response, *data, task->currentRequest());
    }
    task->session_->enqueue([task, data = std::move(data), response = std::move(response), error]() mutable {
      markCompleted(*task);
      DataTaskCompletion completion = std::move(task->completion_);
      task->completion_ = nullptr;  // drops whatever the completion captured, the task included
      if (completion) {
        completion(std::move(data), std::move(response), error);
      } else if (auto delegate = task->session_->delegate()) {
        delegate->didCompleteWithError(task->session_, task, error);
      }
      task->session_->taskDidComplete(task->identifier_);
    });
  }

  static void deliverDownload(const std::shared_ptr<URLSessionDownloadTask>& task, std::optional<Error> error) {
    auto file = std::make_shared<DownloadFile>();
    {
      std::lock_guard lock(task->mutex_);
      file->fd = std::exchange(task->fd_, -1);
      file->folder = task->tempFolder_;
      file->path = std::exchange(task->tempPath_, std::string());
    }
    if (error) file.reset();  // a failed download's partial body goes at once
    task->session_->enqueue([task, file = std::move(file), error]() mutable {
      auto delegate = task->session_->delegate();
      if (!error && delegate) {
        delegate->didFinishDownloadingTo(task->session_, task, URL::fileURL(file->name()));
      }
      file.reset();
      markCompleted(*task);
      if (delegate) delegate->didCompleteWithError(task->session_, task, error);
      task->session_->taskDidComplete(task->identifier_);
    });
  }

  static void markCompleted(URLSessionTask& task) {
    std::lock_guard transition(task.objectLock_);
    task.changeState(URLSessionTask::State::Completed);
  }

  /// The registered implementation of "setState:".
  static void storeState(URLSessionTask& task, URLSessionTask::State state) {
    std::lock_guard lock(task.mutex_);
    task.state_ = state;
  }
};

namespace {

using ResumeMethod = void();
using SetStateMethod = void(URLSessionTask::State);

/// Registers the task classes with their own implementations when the library is loaded, before
/// any send.
[[maybe_unused]] const runtime::Class kURLSessionTaskClass = [] {
  static const char anchor = 0;
  runtime::Class cls = runtime::registerClass<URLSessionTask, runtime::Object>("NSURLSessionTask", &anchor);
  runtime::class_addMethod(cls, URLSessionTask::resumeSelector(),
                           runtime::imp_implementationWithBlock<ResumeMethod>([](runtime::Object* self) {
                             URLSessionTaskDriver::resume(static_cast<URLSessionTask*>(self)->shared_from_this());
                           }));
  runtime::class_addMethod(
      cls, URLSessionTask::setStateSelector(),
      runtime::imp_implementationWithBlock<SetStateMethod>([](runtime::Object* self, URLSessionTask::State state) {
        URLSessionTaskDriver::storeState(*static_cast<URLSessionTask*>(self), state);
      }));
  runtime::registerClass<URLSessionDataTask, URLSessionTask>("NSURLSessionDataTask", &anchor);
  runtime::registerClass<URLSessionDownloadTask, URLSessionTask>("NSURLSessionDownloadTask", &anchor);
  return cls;
}();

}  // namespace

// MARK: - Tasks

URLSessionTask::URLSessionTask(std::shared_ptr<URLSession> session, URLRequest request, Kind kind)
    : identifier_(++lastTaskIdentifier),
      kind_(kind),
      request_(std::move(request)),
      session_(std::move(session)),
      currentRequest_(request_),
      maximumBodyLength_(kind == Kind::Data ? kDefaultDataBodyLength : 0) {}

URLSessionTask::~URLSessionTask() { session_->forgetTask(identifier_); }

URLSessionTask::State URLSessionTask::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::shared_ptr<URLResponse> URLSessionTask::response() const {
  std::lock_guard lock(mutex_);
  return response_;
}

std::optional<Error> URLSessionTask::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

runtime::SEL URLSessionTask::resumeSelector() {
  static const runtime::SEL selector = runtime::sel_registerName("resume");
  return selector;
}

runtime::SEL URLSessionTask::setStateSelector() {
  static const runtime::SEL selector = runtime::sel_registerName("setState:");
  return selector;
}

URLRequest URLSessionTask::currentRequest() const {
  std::lock_guard lock(mutex_);
  return currentRequest_;
}

void URLSessionTask::setCurrentRequest(URLRequest request) {
  std::lock_guard lock(mutex_);
  currentRequest_ = std::move(request);
}

std::int64_t URLSessionTask::countOfBytesSent() const {
  std::lock_guard lock(mutex_);
  return bytesSent_;
}

std::shared_ptr<void> URLSessionTask::associatedObject(const std::string& key) const {
  std::lock_guard lock(objectLock_);
  auto found = associatedObjects_.find(key);
  return found == associatedObjects_.end() ? nullptr : found->second;
}

void URLSessionTask::setAssociatedObject(const std::string& key, std::shared_ptr<void> value) {
  std::lock_guard lock(objectLock_);
  if (value) {
    associatedObjects_[key] = std::move(value);
  } else {
    associatedObjects_.erase(key);
  }
}

void URLSessionTask::changeState(State state) { runtime::msgSend<SetStateMethod>(this, setStateSelector(), state); }

std::int64_t URLSessionTask::countOfBytesReceived() const {
  std::lock_guard lock(mutex_);
  return bytesReceived_;
}

std::int64_t URLSessionTask::countOfBytesExpectedToReceive() const {
  std::lock_guard lock(mutex_);
  return bytesExpected_;
}

void URLSessionTask::setMaximumBodyLength(std::int64_t bytes) {
  std::lock_guard lock(mutex_);
  maximumBodyLength_ = bytes > 0 ? bytes : 0;
}

void URLSessionTask::setBodyReadLimit(std::int64_t bytes) {
  std::lock_guard lock(mutex_);
  bodyReadLimit_ = bytes > 0 ? bytes : 0;
}

void URLSessionTask::resume() { runtime::msgSend<ResumeMethod>(this, resumeSelector()); }

void URLSessionTask::cancel() { URLSessionTaskDriver::cancel(shared_from_this()); }

URLSessionDataTask::URLSessionDataTask(std::shared_ptr<URLSession> session, URLRequest request,
                                       DataTaskCompletion completion)
    : URLSessionTask(std::move(session), std::move(request), Kind::Data), completion_(std::move(completion)) {}

URLSessionDownloadTask::URLSessionDownloadTask(std::shared_ptr<URLSession> session, URLRequest request)
    : URLSessionTask(std::move(session), std::move(request), Kind::Download) {}

URLSessionDownloadTask::~URLSessionDownloadTask() {
  if (fd_ >= 0) ::close(fd_);
  if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
}

// MARK: - Session

URLSession::URLSession(URLSessionConfiguration configuration, std::shared_ptr<URLSessionDelegate> delegate,
                       std::shared_ptr<OperationQueue> delegateQueue, bool isShared)
    : configuration_(std::move(configuration)),
      delegateQueue_(std::move(delegateQueue)),
      isShared_(isShared),
      delegate_(std::move(delegate)) {}

URLSession::~URLSession() = default;

std::shared_ptr<URLSession> URLSession::shared() {
  static auto* session =
      new std::shared_ptr<URLSession>(make(URLSessionConfiguration::defaultSessionConfiguration(), nullptr, nullptr, true));
  return *session;
}

std::shared_ptr<URLSession> URLSession::create(URLSessionConfiguration configuration,
                                               std::shared_ptr<URLSessionDelegate> delegate,
                                               std::shared_ptr<OperationQueue> delegateQueue) {
  return make(std::move(configuration), std::move(delegate), std::move(delegateQueue), false);
}

std::shared_ptr<URLSession> URLSession::make(URLSessionConfiguration configuration,
                                             std::shared_ptr<URLSessionDelegate> delegate,
                                             std::shared_ptr<OperationQueue> delegateQueue, bool isShared) {
  if (!delegateQueue) {
    delegateQueue = OperationQueue::create();
    delegateQueue->setName("URLSession delegate queue");
    delegateQueue->setMaxConcurrentOperationCount(1);
  }
  return std::shared_ptr<URLSession>(
      new URLSession(std::move(configuration), std::move(delegate), std::move(delegateQueue), isShared));
}

std::shared_ptr<URLSessionDelegate> URLSession::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTask(URLRequest request, DataTaskCompletion completion) {
  auto task = std::make_shared<URLSessionDataTask>(shared_from_this(), std::move(request), std::move(completion));
  registerTask(task);
  return task;
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTask(URL url, DataTaskCompletion completion) {
  URLRequest request(std::move(url));
  request.setCachePolicy(configuration_.requestCachePolicy);
  return dataTask(std::move(request), std::move(completion));
}

std::shared_ptr<URLSessionDownloadTask> URLSession::downloadTask(URLRequest request) {
  auto task = std::make_shared<URLSessionDownloadTask>(shared_from_this(), std::move(request));
  registerTask(task);
  return task;
}

std::shared_ptr<URLSessionDownloadTask> URLSession::downloadTask(URL url) {
  URLRequest request(std::move(url));
  request.setCachePolicy(configuration_.requestCachePolicy);
  return downloadTask(std::move(request));
}

void URLSession::finishTasksAndInvalidate() {
  if (isShared_) return;
  std::unique_lock lock(mutex_);
  invalidated_ = true;
  becomeInvalidIfDone(lock);
}

void URLSession::invalidateAndCancel() {
  if (isShared_) return;
  std::vector<std::shared_ptr<URLSessionTask>> tasks;
  {
    std::lock_guard lock(mutex_);
    invalidated_ = true;
    for (auto& [id, weak] : tasks_) {
      if (auto task = weak.lock()) tasks.push_back(std::move(task));
    }
  }
  for (auto& task : tasks) task->cancel();
  std::unique_lock lock(mutex_);
  becomeInvalidIfDone(lock);
}

void URLSession::enqueue(std::function<void()> block) { delegateQueue_->addOperationWithBlock(std::move(block)); }

void URLSession::registerTask(const std::shared_ptr<URLSessionTask>& task) {
  std::lock_guard lock(mutex_);
  tasks_.emplace(task->taskIdentifier(), task);
}

void URLSession::forgetTask(std::uint64_t identifier) {
  std::lock_guard lock(mutex_);
  tasks_.erase(identifier);
}

bool URLSession::taskWillStart() {
  std::lock_guard lock(mutex_);
  ++outstanding_;
  return !invalidated_;
}

void URLSession::taskDidComplete(std::uint64_t identifier) {
  std::unique_lock lock(mutex_);
  tasks_.erase(identifier);
  if (outstanding_ > 0) --outstanding_;
  becomeInvalidIfDone(lock);
}

void URLSession::becomeInvalidIfDone(std::unique_lock<std::mutex>& lock) {
  if (!invalidated_ || invalidNotified_ || outstanding_ > 0) return;
  invalidNotified_ = true;
  lock.unlock();
  enqueue([self = shared_from_this()] {
    std::shared_ptr<URLSessionDelegate> delegate = self->delegate();
    if (delegate) delegate->didBecomeInvalidWithError(self, std::nullopt);
    std::unique_lock relock(self->mutex_);
    std::shared_ptr<URLSessionDelegate> released = std::move(self->delegate_);
    relock.unlock();
    // `released` and `delegate` go here, outside the lock: the delegate may hold tasks whose
    // destruction takes the session's lock.
  });
}

}  // namespace foundation
