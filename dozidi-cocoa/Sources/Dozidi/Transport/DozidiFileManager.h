#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiException.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiDataCategory.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Value.h"

namespace foundation {
class Error;
}
class DozidiAppState;
class DozidiCurrentDateProvider;
class DozidiDispatchQueueWrapper;
class DozidiEnvelope;
class DozidiOptions;
class DozidiSession;

/// Told of each item the cache throws away because it holds too many envelopes.
class DozidiFileManagerDelegate {
 public:
  virtual ~DozidiFileManagerDelegate() = default;
  virtual void envelopeItemDeleted(DozidiDataCategory category) = 0;
};

/// Everything the reporter keeps on disk for one DSN, in "<caches>/io.dozidi/<DSN hash>/": the
/// envelopes waiting to be sent (one file each in "envelopes", oldest name first), the current and
/// the crashed session, the breadcrumb files of this and the previous run, the time the app was
/// last in the foreground and the last time-zone offset. Never sends anything itself. Any thread
/// may use it.
///
/// Every file is written whole and renamed into place, so a process that ends at any moment
/// (a crash, a kill) leaves either the old or the new file, and what it wrote is kept by the
/// system. Envelopes that carry more than sessions and client reports (events, crashes,
/// transactions, attachments) are also flushed to disk before they count as stored. The files
/// that describe this run (sessions, app state, time stamps) and session-only envelopes are not:
/// they are rewritten on every start and at the end of a run, where a flush on a busy disk costs
/// tens of milliseconds each, and only a failure of the whole machine could lose the last one.
class DozidiFileManager : public std::enable_shared_from_this<DozidiFileManager> {
 public:
  /// Seconds after which a stored envelope is too old to send.
  static constexpr double kMaxEnvelopeAge = 7.776e6;
  /// Seconds after creation at which envelopes too old to send are removed.
  static constexpr double kAgeCleanupDelay = 10.0;

  /// Creates the folders (a failure to do so is given in `error`; the manager is still made) and
  /// removes the old "events" folder; the age cleanup runs 10 seconds later on the shared
  /// queue wrapper. None, with `error` set, when the options have no DSN.
  static std::shared_ptr<DozidiFileManager> initWithOptions(const DozidiOptions& options,
                                                            std::shared_ptr<DozidiCurrentDateProvider> currentDateProvider,
                                                            foundation::Error* error);
  /// The same, the age cleanup running on `dispatchQueueWrapper`.
  static std::shared_ptr<DozidiFileManager> initWithOptions(
      const DozidiOptions& options, std::shared_ptr<DozidiCurrentDateProvider> currentDateProvider,
      const std::shared_ptr<DozidiDispatchQueueWrapper>& dispatchQueueWrapper, foundation::Error* error);

  /// Held weakly.
  void setDelegate(std::weak_ptr<DozidiFileManagerDelegate> delegate);

  // Envelopes.
  /// Writes the envelope under a new name ("<seconds>.<micro>-<counter>-<UUID>.json") and then
  /// keeps only the newest `maxEnvelopes` files, telling the delegate of every item it removes.
  /// The new file's path; none, with an error line, when the envelope could not be written.
  std::optional<std::string> storeEnvelope(const DozidiEnvelope& envelope);
  /// The same, giving the new file's path and the bytes written, for a sender that has them at hand.
  std::optional<DozidiFileContents> storeEnvelopeContents(const DozidiEnvelope& envelope);
  /// Every envelope that can be read, oldest first.
  std::vector<DozidiFileContents> getAllEnvelopes();
  /// The oldest envelope that can be read. Entries that cannot be read never block the ones after
  /// them: folders are passed over, and a file that exists but cannot be read is removed (with an
  /// error line), since it would never become sendable.
  /// `known`, a file this manager just wrote, is taken as it is when it is the oldest, unread.
  std::optional<DozidiFileContents> getOldestEnvelope(const DozidiFileContents* known = nullptr);
  /// Removes every envelope; the delegate hears nothing.
  void deleteAllEnvelopes();
  /// Removes envelopes older than 90 days from the envelope folder of every DSN ever used.
  void deleteOldEnvelopesFromAllDozidiPaths();
  /// Removes the files of `path` created more than 90 days ago (reporter's clock); exactly 90
  /// days is kept. The delegate hears nothing.
  void deleteOldEnvelopesFromPath(const std::string& path);
  /// True when the item was removed; a missing item is false without a log line.
  bool removeFileAtPath(const std::string& path);
  /// Removes this DSN's folder with everything in it.
  void deleteAllFolders();
  /// Writes `data` under a new unique name in `folder`; the path, or none (with an error line)
  /// when it could not be written.
  std::optional<std::string> storeData(const foundation::Data& data, const std::string& folder,
                                       foundation::FlushToDisk flush = foundation::FlushToDisk::Yes);
  /// The dictionary's JSON by storeData; `folder` itself, with nothing written, when the
  /// dictionary cannot be written as JSON.
  std::string storeDictionary(const foundation::Dictionary& dictionary, const std::string& folder);

  // Sessions.
  void storeCurrentSession(const DozidiSession& session);
  void storeCrashedSession(const DozidiSession& session);
  std::shared_ptr<DozidiSession> readCurrentSession();
  std::shared_ptr<DozidiSession> readCrashedSession();
  void deleteCurrentSession();
  void deleteCrashedSession();

  // The time the app was last in the foreground.
  void storeTimestampLastInForeground(foundation::Date timestamp);
  std::optional<foundation::Date> readTimestampLastInForeground();
  void deleteTimestampLastInForeground();

  // App state.
  /// Moves this run's app state file over the previous run's.
  void moveAppStateToPreviousAppState();
  /// Writes "app.state" atomically; a failure is logged and otherwise ignored.
  void storeAppState(const DozidiAppState& appState);
  /// The record in "app.state", or none when the file is missing or not a valid record.
  std::shared_ptr<DozidiAppState> readAppState();
  /// The record in "previous.app.state", by the same rule.
  std::shared_ptr<DozidiAppState> readPreviousAppState();
  void deleteAppState();

  // Breadcrumbs.
  /// Moves this run's two breadcrumb files over the previous run's.
  void moveBreadcrumbsToPreviousBreadcrumbs();
  /// The previous run's breadcrumbs: the lines of the longer file first (file two first on equal
  /// counts), each line one JSON object. Empty lines are passed over; other lines that are no
  /// JSON are logged and passed over.
  std::vector<foundation::Value> readPreviousBreadcrumbs();

  // Time zone.
  void storeTimezoneOffset(std::int64_t offset);
  /// None when there is no file or it holds no whole decimal number.
  std::optional<std::int64_t> readTimezoneOffset();
  void deleteTimezoneOffset();

  // Folders.
  /// Creates the folder and its missing parents; false, with `error` set when given, on failure.
  static bool createDirectoryAtPath(const std::string& path, foundation::Error* error);
  bool createDirectoryIfNotExists(const std::string& path, foundation::Error* error);

  const std::string& basePath() const { return basePath_; }
  const std::string& dozidiPath() const { return dozidiPath_; }
  const std::string& envelopesPath() const { return envelopesPath_; }
  const std::string& eventsPath() const { return eventsPath_; }
  const std::string& currentSessionFilePath() const { return currentSessionFilePath_; }
  const std::string& crashedSessionFilePath() const { return crashedSessionFilePath_; }
  const std::string& lastInForegroundFilePath() const { return lastInForegroundFilePath_; }
  const std::string& previousAppStateFilePath() const { return previousAppStateFilePath_; }
  const std::string& appStateFilePath() const { return appStateFilePath_; }
  const std::string& timezoneOffsetFilePath() const { return timezoneOffsetFilePath_; }
  const std::string& breadcrumbsFilePathOne() const { return breadcrumbsFilePathOne_; }
  const std::string& breadcrumbsFilePathTwo() const { return breadcrumbsFilePathTwo_; }
  const std::string& previousBreadcrumbsFilePathOne() const { return previousBreadcrumbsFilePathOne_; }
  const std::string& previousBreadcrumbsFilePathTwo() const { return previousBreadcrumbsFilePathTwo_; }
  std::uint64_t maxEnvelopes() const { return maxEnvelopes_; }

  /// The names in `path`, oldest envelope first (ascending, letter case ignored); empty, with an
  /// error line, when the folder cannot be listed.
  std::vector<std::string> allFilesInFolder(const std::string& path);

 private:
  explicit DozidiFileManager(std::shared_ptr<DozidiCurrentDateProvider> currentDateProvider)
      : currentDateProvider_(std::move(currentDateProvider)) {}

  void handleEnvelopesLimit();
  std::optional<DozidiFileContents> getFileContents(const std::string& folder, const std::string& name);
  void storeSession(const DozidiSession& session, const std::string& path);
  std::shared_ptr<DozidiSession> readSession(const std::string& path);
  void deleteSession(const std::string& path);

  std::shared_ptr<DozidiCurrentDateProvider> currentDateProvider_;
  std::string basePath_, dozidiPath_, eventsPath_, envelopesPath_;
  std::string currentSessionFilePath_, crashedSessionFilePath_, lastInForegroundFilePath_;
  std::string previousAppStateFilePath_, appStateFilePath_, timezoneOffsetFilePath_;
  std::string breadcrumbsFilePathOne_, breadcrumbsFilePathTwo_;
  std::string previousBreadcrumbsFilePathOne_, previousBreadcrumbsFilePathTwo_;
  std::uint64_t maxEnvelopes_ = 0;

  // The envelope folder; re-entered when the count limit removes files while storing.
  std::recursive_mutex lock_;
  std::uint64_t currentFileCounter_ = 0;
  std::weak_ptr<DozidiFileManagerDelegate> delegate_;
  std::shared_ptr<DozidiAppState> readAppStateFrom(const std::string& path);

  std::mutex sessionLock_, timestampLock_, timezoneLock_, breadcrumbsLock_, appStateLock_;
};
