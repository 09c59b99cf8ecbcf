#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/core/CloudObject.h"
#include "platform/foundation/URLSession.h"

namespace fendrel {

/// Carries one download of a list's rule file into its cache file. Each download has a session of
/// its own, whose delegate this is; the session keeps it alive until the task has ended and then
/// is invalidated, letting both go, and with them the two closures.
///
/// The session reports on one serial background queue shared by every list download, where the
/// downloaded file is read, checked and written to the cache; the two closures are always called
/// on the main queue, in the order of the reports.
///
/// Only an http or https answer with a status from 200 to 299, at most kMaximumListBytes long,
/// whose body is a JSON array is stored: an error page or a captive portal's HTML must not count as
/// the cached list. Anything else reports progress with none and calls no completion. At most
/// kMaximumConcurrentDownloads downloads run at once; the others wait, in the order asked for.
class CloudObjectDownloader final : public foundation::URLSessionDelegate,
                                    public std::enable_shared_from_this<CloudObjectDownloader> {
 public:
  /// Longest rule file taken, in bytes. The file is read whole and parsed, and a server that sends
  /// without end must not fill the disk or the memory; the largest lists in use are a few
  /// megabytes, and the browser takes no more than 150,000 rules anyway.
  static constexpr std::int64_t kMaximumListBytes = 64 * 1024 * 1024;
  /// Downloads that run at once. A configuration naming hundreds of lists must not open hundreds
  /// of connections and temporary files together.
  static constexpr int kMaximumConcurrentDownloads = 4;

  /// Starts a plain GET of `source`, or queues it while kMaximumConcurrentDownloads run, and
  /// returns the downloader; the caller need not keep it. Any thread.
  static std::shared_ptr<CloudObjectDownloader> create(const foundation::URL& source,
                                                       foundation::URL destination,
                                                       CloudObject::ProgressBlock progress,
                                                       CloudObject::CompletionBlock completion);

  /// Why the last download into `destination` that ended in this process stored nothing ("the
  /// server answered with status 404"); none when it stored the file or none has ended. Any thread.
  static std::optional<std::string> lastFailure(const foundation::URL& destination);

  const foundation::URL& attachmentLocalURLtoBe() const { return attachmentLocalURLtoBe_; }

  void didWriteData(const std::shared_ptr<foundation::URLSession>& session,
                    const std::shared_ptr<foundation::URLSessionDownloadTask>& task, std::int64_t bytesWritten,
                    std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite) override;
  void didFinishDownloadingTo(const std::shared_ptr<foundation::URLSession>& session,
                              const std::shared_ptr<foundation::URLSessionDownloadTask>& task,
                              const foundation::URL& location) override;
  void didCompleteWithError(const std::shared_ptr<foundation::URLSession>& session,
                            const std::shared_ptr<foundation::URLSessionTask>& task,
                            const std::optional<foundation::Error>& error) override;

 private:
  CloudObjectDownloader(foundation::URL source, foundation::URL destination, CloudObject::ProgressBlock progress,
                        CloudObject::CompletionBlock completion);
  /// Starts the task, or refuses a source that is not http or https. Called once, when the
  /// download's turn has come.
  void start();
  /// Records why nothing was stored and reports progress with none.
  void fail(const std::string& reason);
  void recordOutcome(std::optional<std::string> failure) const;
  /// Calls the progress closure on the main queue.
  void reportProgress(std::optional<float> fraction) const;

  const foundation::URL source_;
  CloudObject::ProgressBlock attachmentDownloadProgressBlock_;
  CloudObject::CompletionBlock attachmentDownloadCompletion_;
  const foundation::URL attachmentLocalURLtoBe_;
};

}  // namespace fendrel
