#pragma once
#include <functional>
#include <memory>
#include <optional>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiAsynchronousOperation.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/URLRequest.h"

namespace foundation {
class HTTPURLResponse;
class OperationQueue;
class URLSession;
class URLSessionDataTask;
}  // namespace foundation

/// What an upload ended with: the HTTP response (none when no answer came) and the transport's
/// error (none when an answer came, whatever its status).
using DozidiRequestOperationFinished =
    std::function<void(std::shared_ptr<foundation::HTTPURLResponse> response, std::optional<foundation::Error> error)>;

/// Runs uploads to the reporting service.
class DozidiRequestManager {
 public:
  virtual ~DozidiRequestManager() = default;
  /// True when another request may be added now.
  virtual bool isReady() = 0;
  /// Sends `request`; `completionHandler` runs once when it has ended, on a thread of the session.
  virtual void addRequest(foundation::URLRequest request, DozidiRequestOperationFinished completionHandler) = 0;
};

/// One upload as an operation: a data task made at once and resumed when the operation starts.
/// The operation finishes after its completion handler ran; cancelled, it cancels its task, and
/// the handler still runs, with the cancellation error.
class DozidiRequestOperation final : public DozidiAsynchronousOperation {
 public:
  static std::shared_ptr<DozidiRequestOperation> initWithSession(const std::shared_ptr<foundation::URLSession>& session,
                                                                 foundation::URLRequest request,
                                                                 DozidiRequestOperationFinished completionHandler);

  void main() override;
  void cancel() override;

  const foundation::URLRequest& request() const { return request_; }

 private:
  explicit DozidiRequestOperation(foundation::URLRequest request) : request_(std::move(request)) {}

  foundation::URLRequest request_;
  std::shared_ptr<foundation::URLSessionDataTask> task_;
};

/// Runs each request as a DozidiRequestOperation on the operation queue
/// "io.dozidi.QueueableRequestManager.OperationQueue", at most 3 at once. Ready while fewer than
/// 2 operations are held.
class DozidiQueueableRequestManager final : public DozidiRequestManager {
 public:
  static std::shared_ptr<DozidiQueueableRequestManager> initWithSession(std::shared_ptr<foundation::URLSession> session);

  bool isReady() override;
  void addRequest(foundation::URLRequest request, DozidiRequestOperationFinished completionHandler) override;

 private:
  explicit DozidiQueueableRequestManager(std::shared_ptr<foundation::URLSession> session);

  std::shared_ptr<foundation::URLSession> session_;
  std::shared_ptr<foundation::OperationQueue> queue_;
};
