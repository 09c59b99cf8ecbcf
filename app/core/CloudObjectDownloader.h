#pragma once
#include <memory>

#include "app/core/CloudObject.h"
#include "platform/foundation/URLSession.h"

namespace fendrel {

/// Carries one download of a list's rule file into its cache file. Each download has a session of
/// its own, whose delegate this is; the session keeps it alive until the task has ended and then
/// is invalidated, letting both go. Every delegate call, and so every call of the two closures,
/// runs on the main thread.
///
/// Only an answer with a status from 200 to 299 whose body is a JSON array is stored: an error
/// page or a captive portal's HTML must not count as the cached list. Anything else reports
/// progress with none and calls no completion.
class CloudObjectDownloader final : public foundation::URLSessionDelegate {
 public:
  /// Starts a plain GET of `source` and returns the downloader; the caller need not keep it.
  static std::shared_ptr<CloudObjectDownloader> create(const foundation::URL& source,
                                                       foundation::URL destination,
                                                       CloudObject::ProgressBlock progress,
                                                       CloudObject::CompletionBlock completion);

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
  CloudObjectDownloader(foundation::URL destination, CloudObject::ProgressBlock progress,
                        CloudObject::CompletionBlock completion);
  void reportNoProgress() const;

  CloudObject::ProgressBlock attachmentDownloadProgressBlock_;
  CloudObject::CompletionBlock attachmentDownloadCompletion_;
  foundation::URL attachmentLocalURLtoBe_;
};

}  // namespace fendrel
