#include "app/core/CloudObjectDownloader.h"

#include <deque>
#include <map>
#include <mutex>
#include <utility>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/runtime/NSData.h"
#include "platform/foundation/URLResponse.h"
#include "platform/foundation/Value.h"

namespace fendrel {
namespace {

/// The one serial queue on which every list download reports and its file is read, parsed and
/// stored: that work stays off the main queue, and one list at a time bounds the memory it takes.
std::shared_ptr<foundation::OperationQueue> downloadQueue() {
  static auto* queue = [] {
    auto created = foundation::OperationQueue::create();
    created->setName("List downloads");
    created->setMaxConcurrentOperationCount(1);
    return new std::shared_ptr<foundation::OperationQueue>(std::move(created));
  }();
  return *queue;
}

/// The downloads running and those waiting for their turn.
struct DownloadSlots {
  std::mutex mutex;
  int running = 0;
  std::deque<std::shared_ptr<CloudObjectDownloader>> waiting;

  static DownloadSlots& shared() {
    static auto* slots = new DownloadSlots();
    return *slots;
  }
  /// True when the caller may start its download now; otherwise it waits in line.
  bool take(const std::shared_ptr<CloudObjectDownloader>& downloader) {
    std::lock_guard lock(mutex);
    if (running < CloudObjectDownloader::kMaximumConcurrentDownloads) {
      ++running;
      return true;
    }
    waiting.push_back(downloader);
    return false;
  }
  /// Hands the slot of an ended download to the next one waiting, which is returned to be started.
  std::shared_ptr<CloudObjectDownloader> release() {
    std::lock_guard lock(mutex);
    if (waiting.empty()) {
      --running;
      return nullptr;
    }
    auto next = std::move(waiting.front());
    waiting.pop_front();
    return next;
  }
};

/// Why each destination's last download stored nothing, by file path.
struct FailureRecord {
  std::mutex mutex;
  std::map<std::string, std::string> reasons;

  static FailureRecord& shared() {
    static auto* record = new FailureRecord();
    return *record;
  }
};

/// An error as one line: its description, and the platform's detail when it has one.
std::string describe(const foundation::Error& error) {
  std::string text = error.localizedDescription();
  if (auto detail = error.userInfo()[foundation::kDebugDescriptionKey].asString(); detail && !detail->empty()) {
    text += ": " + *detail;
  }
  return text;
}

bool isJSONArray(const foundation::Data& body) {
  auto parsed = foundation::JSONSerialization::JSONObjectWithData(body.view());
  return parsed && parsed->array() != nullptr;
}

void onMainQueue(std::function<void()> block) { dispatch::DispatchQueue::main()->async(std::move(block)); }

}  // namespace

CloudObjectDownloader::CloudObjectDownloader(foundation::URL source, foundation::URL destination,
                                             CloudObject::ProgressBlock progress,
                                             CloudObject::CompletionBlock completion)
    : source_(std::move(source)),
      attachmentDownloadProgressBlock_(std::move(progress)),
      attachmentDownloadCompletion_(std::move(completion)),
      attachmentLocalURLtoBe_(std::move(destination)) {}

std::shared_ptr<CloudObjectDownloader> CloudObjectDownloader::create(const foundation::URL& source,
                                                                     foundation::URL destination,
                                                                     CloudObject::ProgressBlock progress,
                                                                     CloudObject::CompletionBlock completion) {
  std::shared_ptr<CloudObjectDownloader> downloader(
      new CloudObjectDownloader(source, std::move(destination), std::move(progress), std::move(completion)));
  if (DownloadSlots::shared().take(downloader)) downloader->start();
  return downloader;
}

void CloudObjectDownloader::start() {
  const std::string& scheme = source_.scheme();
  if (scheme != "http" && scheme != "https") {
    // A list is fetched from a web server; a file:// address would read any file the app can.
    fail("unsupported URL: only http and https lists are downloaded");
    if (auto next = DownloadSlots::shared().release()) next->start();
    return;
  }
  auto session = foundation::URLSession::create(foundation::URLSessionConfiguration::defaultSessionConfiguration(),
                                                shared_from_this(), downloadQueue());
  auto task = session->downloadTask(source_);
  task->setMaximumBodyLength(kMaximumListBytes);
  task->resume();
}

std::optional<std::string> CloudObjectDownloader::lastFailure(const foundation::URL& destination) {
  auto& record = FailureRecord::shared();
  std::lock_guard lock(record.mutex);
  auto found = record.reasons.find(destination.path());
  if (found == record.reasons.end()) return std::nullopt;
  return found->second;
}

void CloudObjectDownloader::recordOutcome(std::optional<std::string> failure) const {
  auto& record = FailureRecord::shared();
  std::lock_guard lock(record.mutex);
  if (failure) {
    record.reasons[attachmentLocalURLtoBe_.path()] = std::move(*failure);
  } else {
    record.reasons.erase(attachmentLocalURLtoBe_.path());
  }
}

void CloudObjectDownloader::didWriteData(const std::shared_ptr<foundation::URLSession>&,
                                         const std::shared_ptr<foundation::URLSessionDownloadTask>&, std::int64_t,
                                         std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite) {
  if (!attachmentDownloadProgressBlock_) return;
  if (totalBytesExpectedToWrite < 1) {
    reportProgress(std::nullopt);
    return;
  }
  reportProgress(static_cast<float>(totalBytesWritten) / static_cast<float>(totalBytesExpectedToWrite));
}

void CloudObjectDownloader::didFinishDownloadingTo(const std::shared_ptr<foundation::URLSession>&,
                                                   const std::shared_ptr<foundation::URLSessionDownloadTask>& task,
                                                   const foundation::URL& location) {
  auto http = std::dynamic_pointer_cast<foundation::HTTPURLResponse>(task->response());
  if (!http) {
    fail("the answer is not an HTTP response");
    return;
  }
  if (http->statusCode() < 200 || http->statusCode() > 299) {
    fail("the server answered with status " + std::to_string(http->statusCode()));
    return;
  }
  auto& files = foundation::FileManager::defaultManager();
  foundation::Error readError("", 0);
  auto body = runtime::NSData::dataWithContentsOfURL(location, &readError);
  if (!body) {
    // Nothing further is reported: the element stays at its last progress.
    recordOutcome(describe(readError));
    return;
  }
  if (!isJSONArray(*body)) {
    fail("the answer is not a JSON array of rules");
    return;
  }
  // A failed write still calls the completion: its state refresh finds no file and decides.
  // Not flushed: a list can be downloaded again, and a flush per list made a catalogue of
  // thousands of lists take minutes on a busy disk.
  auto written = files.writeFileAtomically(attachmentLocalURLtoBe_, *body, foundation::FlushToDisk::No);
  recordOutcome(written ? std::nullopt : std::optional<std::string>(describe(written.error())));
  if (attachmentDownloadCompletion_) onMainQueue(attachmentDownloadCompletion_);
}

void CloudObjectDownloader::didCompleteWithError(const std::shared_ptr<foundation::URLSession>& session,
                                                 const std::shared_ptr<foundation::URLSessionTask>&,
                                                 const std::optional<foundation::Error>& error) {
  if (error) fail(describe(*error));
  // The session holds this downloader until it is invalidated; the download is over, let both go.
  session->finishTasksAndInvalidate();
  if (auto next = DownloadSlots::shared().release()) next->start();
}

void CloudObjectDownloader::fail(const std::string& reason) {
  recordOutcome(reason);
  reportProgress(std::nullopt);
}

void CloudObjectDownloader::reportProgress(std::optional<float> fraction) const {
  if (!attachmentDownloadProgressBlock_) return;
  onMainQueue([progress = attachmentDownloadProgressBlock_, fraction] { progress(fraction); });
}

}  // namespace fendrel
