#include "app/core/CloudObjectDownloader.h"

#include <utility>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/URLResponse.h"

namespace fendrel {
namespace {

bool isSuccessStatus(const std::shared_ptr<foundation::URLResponse>& response) {
  auto http = std::dynamic_pointer_cast<foundation::HTTPURLResponse>(response);
  return http && http->statusCode() >= 200 && http->statusCode() <= 299;
}

bool isJSONArray(const foundation::Data& body) {
  auto parsed = foundation::JSONSerialization::JSONObjectWithData(body.view());
  return parsed && parsed->array() != nullptr;
}

}  // namespace

CloudObjectDownloader::CloudObjectDownloader(foundation::URL destination, CloudObject::ProgressBlock progress,
                                             CloudObject::CompletionBlock completion)
    : attachmentDownloadProgressBlock_(std::move(progress)),
      attachmentDownloadCompletion_(std::move(completion)),
      attachmentLocalURLtoBe_(std::move(destination)) {}

std::shared_ptr<CloudObjectDownloader> CloudObjectDownloader::create(const foundation::URL& source,
                                                                     foundation::URL destination,
                                                                     CloudObject::ProgressBlock progress,
                                                                     CloudObject::CompletionBlock completion) {
  std::shared_ptr<CloudObjectDownloader> downloader(
      new CloudObjectDownloader(std::move(destination), std::move(progress), std::move(completion)));
  auto session = foundation::URLSession::create(foundation::URLSessionConfiguration::defaultSessionConfiguration(),
                                                downloader, foundation::OperationQueue::main());
  session->downloadTask(source)->resume();
  return downloader;
}

void CloudObjectDownloader::didWriteData(const std::shared_ptr<foundation::URLSession>&,
                                         const std::shared_ptr<foundation::URLSessionDownloadTask>&, std::int64_t,
                                         std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite) {
  if (!attachmentDownloadProgressBlock_) return;
  if (totalBytesExpectedToWrite < 1) {
    attachmentDownloadProgressBlock_(std::nullopt);
    return;
  }
  attachmentDownloadProgressBlock_(static_cast<float>(totalBytesWritten) /
                                   static_cast<float>(totalBytesExpectedToWrite));
}

void CloudObjectDownloader::didFinishDownloadingTo(const std::shared_ptr<foundation::URLSession>&,
                                                   const std::shared_ptr<foundation::URLSessionDownloadTask>& task,
                                                   const foundation::URL& location) {
  if (!isSuccessStatus(task->response())) {
    reportNoProgress();
    return;
  }
  auto& files = foundation::FileManager::defaultManager();
  auto body = files.readFile(location);
  if (!body) return;
  if (!isJSONArray(*body)) {
    reportNoProgress();
    return;
  }
  // A failed write is not reported here: the completion's state refresh finds no file and decides.
  auto written = files.writeFileAtomically(attachmentLocalURLtoBe_, *body);
  (void)written;
  if (attachmentDownloadCompletion_) attachmentDownloadCompletion_();
}

void CloudObjectDownloader::didCompleteWithError(const std::shared_ptr<foundation::URLSession>& session,
                                                 const std::shared_ptr<foundation::URLSessionTask>&,
                                                 const std::optional<foundation::Error>& error) {
  if (error) reportNoProgress();
  // The session holds this downloader until it is invalidated; the download is over, let both go.
  session->finishTasksAndInvalidate();
}

void CloudObjectDownloader::reportNoProgress() const {
  if (attachmentDownloadProgressBlock_) attachmentDownloadProgressBlock_(std::nullopt);
}

}  // namespace fendrel
