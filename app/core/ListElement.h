#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "app/core/CloudObject.h"
#include "app/core/Recompilation.h"
#include "platform/foundation/Result.h"

namespace fendrel {

/// The download and enable state of a list element. Two states are equal when they are the same
/// case: two Downloading states are equal whatever their fractions.
class ListElementState {
 public:
  enum class Case : std::uint8_t {
    Downloading,           ///< the download is under way; percent() is the fraction from 0 to 1
    NotDownloaded,         ///< a new element before its first refresh
    PreparingForDownload,  ///< no cached file; a download was asked for, gave no fraction or failed
    DownloadedDisabled,
    DownloadedEnabled,
  };

  static ListElementState Downloading(float percent) { return ListElementState(Case::Downloading, percent); }
  static ListElementState NotDownloaded() { return ListElementState(Case::NotDownloaded); }
  static ListElementState PreparingForDownload() { return ListElementState(Case::PreparingForDownload); }
  static ListElementState DownloadedDisabled() { return ListElementState(Case::DownloadedDisabled); }
  static ListElementState DownloadedEnabled() { return ListElementState(Case::DownloadedEnabled); }

  Case kind() const { return case_; }
  /// The fraction of a Downloading state; 0 for the other cases.
  float percent() const { return percent_; }

  friend bool operator==(const ListElementState& a, const ListElementState& b) { return a.case_ == b.case_; }

 private:
  explicit ListElementState(Case c, float percent = 0) : case_(c), percent_(percent) {}
  Case case_;
  float percent_;
};

/// The cell that shows a list element; told on the main thread after every change of the
/// element's state, and redraws from it.
class ListElementCellDelegate {
 public:
  virtual ~ListElementCellDelegate() = default;
  virtual void listElementProgressUpdate() = 0;
};

/// The compile service as list elements use it: changes of the enabled set and requests for a
/// compilation. The app's is the compile service itself; tests put a recording one in its place.
class ListElementCompileService {
 public:
  virtual ~ListElementCompileService() = default;
  /// Adds the list to the enabled set and stores the set; compiles nothing. Errors: the set could
  /// not be stored and stays as it was.
  virtual foundation::Result<void> enableList(const CloudObject& obj) = 0;
  /// Removes the list from the enabled set and stores the set; compiles nothing. Errors as above.
  virtual foundation::Result<void> disableList(const CloudObject& obj) = 0;
  /// Adds one compilation to the compile queue.
  virtual void queueCompilation(Recompilation recompilation) = 0;
};

/// A filter list of the catalogue as the app handles it: the catalogue entry with its download and
/// enable state and a weak link to the cell that shows it.
///
/// Everything but the entry is used on the main thread. The entry (obj()) is immutable and may be
/// read from any thread; the state is kept under a small lock so that a reader elsewhere never
/// sees it half-written. Only the element changes its state.
class ListElement : public std::enable_shared_from_this<ListElement> {
 public:
  /// Delays before the first and the second restart of a download whose file was not stored
  /// (a full or unwritable disk): without a bound the app would download the same list in a
  /// tight loop. After the second restart the element waits for the next catalogue refresh.
  static constexpr double kRestartDelays[] = {2.0, 4.0};

  /// An element for a list entry, which at once checks its cache (refreshState()) and starts a
  /// missing download; none for an app entry.
  static std::shared_ptr<ListElement> make(const CloudObject& obj);

  const CloudObject& obj() const { return obj_; }
  const std::string& name() const { return obj_.name(); }
  std::int64_t count() const { return obj_.count(); }
  const std::string& desc() const { return obj_.desc(); }
  const std::string& attachmentKey() const { return attachmentKey_; }
  ListElementState state() const;

  /// The cell that shows the element; none once that cell is gone.
  std::shared_ptr<ListElementCellDelegate> cellDelegate() const;
  void setCellDelegate(std::weak_ptr<ListElementCellDelegate> cellDelegate);

  /// Looks at the cache: a cached file gives DownloadedEnabled or DownloadedDisabled by the
  /// enabled set; no file gives PreparingForDownload and starts the download. Then tells the cell.
  void refreshState();
  /// The cached-file half of refreshState(): when the file is cached, sets the downloaded state
  /// that the enabled set gives, tells the cell and returns true; otherwise changes nothing and
  /// starts no download.
  bool refreshCachedState();
  /// Enables or disables the list through the compile service, shows the matching downloaded state
  /// at once (also while the file is still downloading), tells the cell and queues a compilation
  /// that skips an unchanged enabled set. When the change cannot be stored nothing changes,
  /// nothing is compiled and the service's error comes back.
  foundation::Result<void> setEnabled(bool enabled);

  /// True from the start of a download of the list's file until the element has handled its end:
  /// the completion (file stored or not), or the end of a download that stored nothing and so
  /// called no completion (transport error, bad status, a body that is not a rule list). Also true
  /// while a restart after a file that could not be stored waits for its delay. False once the
  /// element has nothing more coming: the file is cached, or it waits for the next catalogue
  /// refresh. Called on the main thread.
  bool isDownloadInFlight() const;

  /// The compile service list elements use; the app's compile service unless another was set.
  static std::shared_ptr<ListElementCompileService> compileService();
  /// Puts `service` in place of the app's compile service; none goes back to the app's.
  static void setCompileService(std::shared_ptr<ListElementCompileService> service);

 private:
  explicit ListElement(CloudObject obj) : obj_(std::move(obj)) {}

  class DownloadEndToken;

  void startDownload();
  void downloadEnded(std::uint64_t generation);
  void downloadProgress(std::optional<float> fraction);
  void downloadCompleted();
  void setState(ListElementState state);
  void tellCell() const;
  bool isEnabled() const;

  const CloudObject obj_;
  const std::string attachmentKey_ = "attachment";
  mutable std::mutex mutex_;  // guards the members below
  ListElementState state_ = ListElementState::NotDownloaded();
  std::weak_ptr<ListElementCellDelegate> cellDelegate_;
  /// Restarts made after a download whose file was not stored.
  int restarts_ = 0;
  /// Counts the downloads started, so that the end of an older one changes nothing.
  std::uint64_t downloadGeneration_ = 0;
  /// The latest download has started and its end has not been handled yet.
  bool downloadRunning_ = false;
  /// A restart waits for its delay.
  bool restartPending_ = false;
};

}  // namespace fendrel
