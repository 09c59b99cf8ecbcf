#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiRequestManager.h"

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/URLResponse.h"
#include "platform/foundation/URLSession.h"

namespace {

/// The most of an answer's body the reporter reads. The service's answers are a few hundred bytes;
/// the status and headers are what counts, and a bound keeps memory flat against an endless or huge
/// answer from a broken or hostile endpoint.
constexpr std::int64_t kMaximumAnswerBodyBytes = 64 * 1024;

}  // namespace

std::shared_ptr<DozidiRequestOperation> DozidiRequestOperation::initWithSession(
    const std::shared_ptr<foundation::URLSession>& session, foundation::URLRequest request,
    DozidiRequestOperationFinished completionHandler) {
  auto operation = std::shared_ptr<DozidiRequestOperation>(new DozidiRequestOperation(request));
  // The task holds the handler, the operation holds the task: the handler refers back to the
  // operation weakly.
  std::weak_ptr<DozidiRequestOperation> weakOperation = operation;
  operation->task_ = session->dataTask(
      std::move(request), [weakOperation, completionHandler = std::move(completionHandler)](
                              std::optional<foundation::Data> data, std::shared_ptr<foundation::URLResponse> response,
                              std::optional<foundation::Error> error) {
        auto httpResponse = std::dynamic_pointer_cast<foundation::HTTPURLResponse>(response);
        DOZIDI_LOG_DEBUG("Request status: " + std::to_string(httpResponse ? httpResponse->statusCode() : 0));
        if (DozidiLog::isDebug()) {
          DOZIDI_LOG_DEBUG("Request response: " + (data ? data->bytes() : std::string()));
        }
        if (error) DOZIDI_LOG_ERROR("Request failed: " + error->localizedDescription());
        if (completionHandler) completionHandler(std::move(httpResponse), std::move(error));
        if (auto operation = weakOperation.lock()) operation->completeOperation();
      });
  operation->task_->setBodyReadLimit(kMaximumAnswerBodyBytes);
  return operation;
}

void DozidiRequestOperation::main() {
  if (task_) task_->resume();
}

void DozidiRequestOperation::cancel() {
  if (task_) task_->cancel();
  DozidiAsynchronousOperation::cancel();
}

std::shared_ptr<DozidiQueueableRequestManager> DozidiQueueableRequestManager::initWithSession(
    std::shared_ptr<foundation::URLSession> session) {
  return std::shared_ptr<DozidiQueueableRequestManager>(new DozidiQueueableRequestManager(std::move(session)));
}

DozidiQueueableRequestManager::DozidiQueueableRequestManager(std::shared_ptr<foundation::URLSession> session)
    : session_(std::move(session)), queue_(foundation::OperationQueue::create()) {
  queue_->setName("io.dozidi.QueueableRequestManager.OperationQueue");
  queue_->setMaxConcurrentOperationCount(3);
}

bool DozidiQueueableRequestManager::isReady() {
  // One upload runs and at most one waits.
  return queue_->operationCount() < 2;
}

void DozidiQueueableRequestManager::addRequest(foundation::URLRequest request,
                                               DozidiRequestOperationFinished completionHandler) {
  std::weak_ptr<foundation::OperationQueue> weakQueue = queue_;
  auto operation = DozidiRequestOperation::initWithSession(
      session_, std::move(request),
      [weakQueue, completionHandler = std::move(completionHandler)](
          std::shared_ptr<foundation::HTTPURLResponse> response, std::optional<foundation::Error> error) {
        if (auto queue = weakQueue.lock()) {
          DOZIDI_LOG_DEBUG("Queued requests: " + std::to_string(static_cast<long>(queue->operationCount()) - 1));
        }
        if (completionHandler) completionHandler(std::move(response), std::move(error));
      });
  queue_->addOperation(std::move(operation));
}
