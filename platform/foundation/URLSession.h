#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/HTTPHeaderFields.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/URLRequest.h"
#include "platform/foundation/URLResponse.h"
#include "platform/runtime/Methods.h"

namespace foundation {

class OperationQueue;
class URLSession;
class URLSessionTask;
class URLSessionDownloadTask;
struct URLSessionTaskDriver;

/// Settings shared by every task of a session.
struct URLSessionConfiguration {
  /// Data tasks use the shared URL cache; cookies and credentials are not kept.
  static URLSessionConfiguration defaultSessionConfiguration();
  /// Uses no cache and keeps nothing on disk.
  static URLSessionConfiguration ephemeralSessionConfiguration();

  bool isEphemeral = false;
  /// Seconds without a byte sent or received after which a task fails with a time-out (URLError
  /// TimedOut), used by requests that set no time-out of their own. Non-positive: 60.
  double timeoutIntervalForRequest = 60.0;
  /// Seconds a whole transfer may take. Non-positive: 7 days.
  double timeoutIntervalForResource = 7 * 24 * 3600.0;
  /// Accepted for the platform's sake; a task without a network fails at once like any other.
  bool waitsForConnectivity = false;
  URLRequestCachePolicy requestCachePolicy = URLRequestCachePolicy::UseProtocolCachePolicy;
  /// Header fields added to every request that does not set the same field itself.
  HTTPHeaderFields httpAdditionalHeaders;
};

/// What a session tells its delegate. Every call runs on the session's delegate queue. Methods
/// have empty defaults, so a delegate implements only those it needs.
class URLSessionDelegate {
 public:
  virtual ~URLSessionDelegate() = default;

  /// The session was invalidated and its last task has completed; the session lets go of its
  /// delegate after this call. `error` is none for an explicit invalidation.
  virtual void didBecomeInvalidWithError(const std::shared_ptr<URLSession>& session,
                                         const std::optional<Error>& error);
  /// A task ended (successfully when `error` is none). Called for download tasks and for data tasks
  /// made without a completion; a data task with a completion reports through it only.
  virtual void didCompleteWithError(const std::shared_ptr<URLSession>& session,
                                    const std::shared_ptr<URLSessionTask>& task, const std::optional<Error>& error);
  /// A download task wrote `bytesWritten` more bytes. `totalBytesExpectedToWrite` is the body's
  /// announced length, or -1 when the server announces none or the body is content-encoded.
  virtual void didWriteData(const std::shared_ptr<URLSession>& session,
                            const std::shared_ptr<URLSessionDownloadTask>& task, std::int64_t bytesWritten,
                            std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite);
  /// A download task received its whole body into the temporary file `location`, whatever the HTTP
  /// status; the task's response() is set. The file is deleted when this call returns: move or
  /// read it here. didCompleteWithError follows. Until this call the body has no name on disk, so
  /// a failed, cancelled or abandoned download (the process ending included) leaves no file.
  virtual void didFinishDownloadingTo(const std::shared_ptr<URLSession>& session,
                                      const std::shared_ptr<URLSessionDownloadTask>& task, const URL& location);
};

/// Called once, on the session's delegate queue: the body (empty when there was none) and the
/// response when the load succeeded, whatever the HTTP status; otherwise an error (URL domain)
/// and neither data nor response.
using DataTaskCompletion =
    std::function<void(std::optional<Data> data, std::shared_ptr<URLResponse> response, std::optional<Error> error)>;

/// One load of a session. Created suspended: nothing happens until resume(). A running task keeps
/// itself and its session alive until its completion has run.
///
/// Tasks are classes of the object runtime ("NSURLSessionTask", "NSURLSessionDataTask",
/// "NSURLSessionDownloadTask"), and two of their methods are sent through its method table, so an
/// observer can replace them by name:
///   "resume"      void()                        starts the task; the request sent is built from
///                                               currentRequest() inside it, so header fields set
///                                               by a replacement that runs first are sent
///   "setState:"   void(URLSessionTask::State)   stores the task's new state; every change of state
///                                               (running, canceling, completed) is sent through it,
///                                               so a replacement that runs first still sees the
///                                               old state()
/// State changes of one task are sent one at a time, under the task's object lock.
class URLSessionTask : public runtime::Object, public std::enable_shared_from_this<URLSessionTask> {
 public:
  enum class State : std::int64_t { Running = 0, Suspended = 1, Canceling = 2, Completed = 3 };

  static runtime::SEL resumeSelector();
  static runtime::SEL setStateSelector();

  virtual ~URLSessionTask();
  URLSessionTask(const URLSessionTask&) = delete;
  URLSessionTask& operator=(const URLSessionTask&) = delete;

  /// Unique within the process.
  std::uint64_t taskIdentifier() const { return identifier_; }
  const URLRequest& originalRequest() const { return request_; }
  /// The request the task sends: the original request until setCurrentRequest() changes it.
  URLRequest currentRequest() const;
  /// Replaces the request to send; it takes effect when set before resume() builds the transfer.
  void setCurrentRequest(URLRequest request);
  bool isDataTask() const { return kind_ == Kind::Data; }
  bool isDownloadTask() const { return kind_ == Kind::Download; }
  std::shared_ptr<URLSession> session() const { return session_; }
  State state() const;
  /// The response, once its header has arrived; null before and for failed loads.
  std::shared_ptr<URLResponse> response() const;
  /// The error the task ended with, once it has ended.
  std::optional<Error> error() const;
  std::int64_t countOfBytesReceived() const;
  /// The bytes of the request body sent: its length once the response has arrived, 0 before.
  std::int64_t countOfBytesSent() const;
  /// The body's announced length, or -1 when unknown (also before the response).
  std::int64_t countOfBytesExpectedToReceive() const;

  /// The body limit every data task starts with: enough for any answer read into memory (settings,
  /// analytics answers, icons), while a broken or hostile server that sends without end cannot
  /// grow the process's memory without bound. Callers that need more set their own.
  static constexpr std::int64_t kDefaultDataBodyLength = 8 * 1024 * 1024;

  /// Refuses a body longer than `bytes`: the task then fails with URLError DataLengthExceedsMaximum
  /// before it keeps a byte more, when the announced length or the bytes received pass the limit.
  /// A body read limit no larger than the maximum bounds the body itself: such a task is cut, not
  /// refused. Set it before resume(); 0 sets no limit. A data task starts with
  /// kDefaultDataBodyLength, a download task (which writes to disk) with no limit.
  void setMaximumBodyLength(std::int64_t bytes);
  /// Reads at most `bytes` of the body, for a caller that needs the status and headers and only a
  /// bounded start of the body, however long or endless the answer: once that much has arrived the
  /// connection is closed and the load ends successfully with the response and those bytes. Such a
  /// cut answer is never stored in the URL cache. Set it before resume(); 0 (the default) reads all.
  void setBodyReadLimit(std::int64_t bytes);

  /// Starts a suspended task; does nothing otherwise. Any thread. Sends "resume".
  void resume();
  /// Ends a task that has not completed yet with URLError Cancelled (-999), reported once. Any
  /// thread; does nothing once the task has completed or already been cancelled.
  void cancel();

  /// The task's object lock (recursive), as the platform's per-object lock: held while the task
  /// changes state, and by observers that keep records on the task.
  std::recursive_mutex& objectLock() const { return objectLock_; }
  /// An object another component attached to the task under `key`; null when none.
  std::shared_ptr<void> associatedObject(const std::string& key) const;
  /// Attaches `value` under `key` (null detaches). Under the object lock.
  void setAssociatedObject(const std::string& key, std::shared_ptr<void> value);

 protected:
  enum class Kind { Data, Download };
  URLSessionTask(std::shared_ptr<URLSession> session, URLRequest request, Kind kind);

 private:
  friend struct URLSessionTaskDriver;
  friend class URLSession;

  const std::uint64_t identifier_;
  const Kind kind_;
  const URLRequest request_;
  const std::shared_ptr<URLSession> session_;

  /// Sends "setState:" with the object lock held.
  void changeState(State state);

  mutable std::recursive_mutex objectLock_;
  std::unordered_map<std::string, std::shared_ptr<void>> associatedObjects_;  ///< under objectLock_

  mutable std::mutex mutex_;
  URLRequest currentRequest_;
  State state_ = State::Suspended;
  bool ended_ = false;  ///< the outcome is decided (its delivery may still be queued)
  std::uint64_t transfer_ = 0;
  std::shared_ptr<URLResponse> response_;
  std::optional<Error> error_;
  std::int64_t bytesReceived_ = 0;
  std::int64_t bytesSent_ = 0;
  std::int64_t bytesExpected_ = -1;
  std::int64_t maximumBodyLength_ = 0;
  std::int64_t bodyReadLimit_ = 0;
  bool bodyCut_ = false;  ///< the body read limit ended the load before the answer's end
};

/// A task that loads into memory and reports through a DataTaskCompletion.
class URLSessionDataTask : public URLSessionTask {
 public:
  URLSessionDataTask(std::shared_ptr<URLSession> session, URLRequest request, DataTaskCompletion completion);

 private:
  friend struct URLSessionTaskDriver;
  DataTaskCompletion completion_;
  std::string body_;  ///< written by the network thread only, handed over when the load ends
};

/// A task that loads into a temporary file and reports to the session's delegate.
class URLSessionDownloadTask : public URLSessionTask {
 public:
  URLSessionDownloadTask(std::shared_ptr<URLSession> session, URLRequest request);
  ~URLSessionDownloadTask() override;

 private:
  friend struct URLSessionTaskDriver;
  int fd_ = -1;
  /// The folder of the temporary file; its name there is made only for didFinishDownloadingTo.
  std::string tempFolder_;
  /// Set only when the system cannot make a file without a name: the file's name from the start.
  std::string tempPath_;
};

/// Loads URLs (http, https and file) on the process's network thread and reports on the session's
/// delegate queue. Time-outs count real seconds: they belong to the transport, not to the app's
/// clock. Redirects are followed (at most 16), gzip and deflate bodies are decoded, TLS peers are
/// verified against the system's certificate store.
///
/// Errors are in the URL domain: Cancelled, TimedOut, CannotFindHost, CannotConnectToHost,
/// NetworkConnectionLost, HTTPTooManyRedirects, FileDoesNotExist (a missing file:// file),
/// UnsupportedURL (another scheme or a relative URL), CannotCreateFile / CannotWriteToFile (the
/// temporary file of a download), DataLengthExceedsMaximum (a body beyond the task's maximum), and
/// Unknown for the rest.
class URLSession : public std::enable_shared_from_this<URLSession> {
 public:
  /// The process's shared session: default configuration, no delegate, a serial queue of its own.
  /// Never invalidated (invalidation calls are ignored).
  static std::shared_ptr<URLSession> shared();
  /// A session holding `delegate` strongly until it is invalidated. A null `delegateQueue` gives
  /// the session a serial operation queue of its own.
  static std::shared_ptr<URLSession> create(URLSessionConfiguration configuration,
                                            std::shared_ptr<URLSessionDelegate> delegate = nullptr,
                                            std::shared_ptr<OperationQueue> delegateQueue = nullptr);
  ~URLSession();
  URLSession(const URLSession&) = delete;
  URLSession& operator=(const URLSession&) = delete;

  const URLSessionConfiguration& configuration() const { return configuration_; }
  /// The delegate, or null once the session has become invalid.
  std::shared_ptr<URLSessionDelegate> delegate() const;
  const std::shared_ptr<OperationQueue>& delegateQueue() const { return delegateQueue_; }

  /// A suspended task. `completion` may be null: the delegate's didCompleteWithError reports then.
  std::shared_ptr<URLSessionDataTask> dataTask(URLRequest request, DataTaskCompletion completion);
  std::shared_ptr<URLSessionDataTask> dataTask(URL url, DataTaskCompletion completion);
  /// A suspended task reporting to the delegate.
  std::shared_ptr<URLSessionDownloadTask> downloadTask(URLRequest request);
  std::shared_ptr<URLSessionDownloadTask> downloadTask(URL url);

  /// Lets running tasks finish, then tells the delegate didBecomeInvalidWithError and lets go of
  /// it. Tasks resumed afterwards fail with URLError Unknown.
  void finishTasksAndInvalidate();
  /// Cancels every task that has not completed, then invalidates as finishTasksAndInvalidate().
  void invalidateAndCancel();

 private:
  friend struct URLSessionTaskDriver;
  friend class URLSessionTask;
  URLSession(URLSessionConfiguration configuration, std::shared_ptr<URLSessionDelegate> delegate,
             std::shared_ptr<OperationQueue> delegateQueue, bool isShared);
  static std::shared_ptr<URLSession> make(URLSessionConfiguration configuration,
                                          std::shared_ptr<URLSessionDelegate> delegate,
                                          std::shared_ptr<OperationQueue> delegateQueue, bool isShared);
  void enqueue(std::function<void()> block);
  void registerTask(const std::shared_ptr<URLSessionTask>& task);
  void forgetTask(std::uint64_t identifier);
  /// Counts a task whose end is to be reported; false when the session is invalidated.
  bool taskWillStart();
  void taskDidComplete(std::uint64_t identifier);
  void becomeInvalidIfDone(std::unique_lock<std::mutex>& lock);

  const URLSessionConfiguration configuration_;
  const std::shared_ptr<OperationQueue> delegateQueue_;
  const bool isShared_;
  mutable std::mutex mutex_;
  std::shared_ptr<URLSessionDelegate> delegate_;
  bool invalidated_ = false;
  bool invalidNotified_ = false;
  /// Every task not yet completed, by identifier (weak: an unstarted task dropped by its owner goes).
  std::unordered_map<std::uint64_t, std::weak_ptr<URLSessionTask>> tasks_;
  /// Tasks whose completion is still to be delivered.
  std::size_t outstanding_ = 0;
};

}  // namespace foundation
