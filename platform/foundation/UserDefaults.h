#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

struct stat;

namespace foundation {

/// A settings store: a dictionary persisted as a binary property list
/// "<folder>/Library/Preferences/<name>.plist", where the folder is the app group's container for
/// a suite named after an app group the main bundle is entitled to, else the deliverable's home.
///
/// Safe from any thread and across processes: each change takes an exclusive lock on
/// "<name>.plist.lock", re-reads the file when another process changed it, changes one key and
/// writes the file atomically before the lock is released; reads re-read the file when it changed
/// (inode, size or modification time). Two processes changing different keys lose neither, and
/// update() lets two processes change the same collection or counter without losing either change.
/// A change that cannot be written is refused with the error: the store and the file keep what
/// they held. A file that exists but is not a property-list dictionary (truncated, empty, foreign
/// bytes) is moved aside to "<name>.plist.corrupt-<UTC time>", the store goes on as empty, and
/// kUnreadableFileSetAsideNotification is posted once for it.
class UserDefaults {
 public:
  /// The store of the running deliverable, named after its bundle identifier.
  static std::shared_ptr<UserDefaults> standard();
  /// The store named `name`, one per name per process; nullptr for a name that is not a plain
  /// file name.
  static std::shared_ptr<UserDefaults> suite(std::string_view name);

  /// Posted by the default notification centre, on the thread that read the file, when an
  /// unreadable settings file was moved aside. User info: "path" (the store's file) and "keptAs"
  /// (where the unreadable file now is).
  static constexpr const char* kUnreadableFileSetAsideNotification = "UserDefaultsUnreadableFileSetAside";

  /// The stored value; absent when missing.
  Value object(std::string_view key);
  /// Stores a value; an absent value removes the key. Fails, storing nothing, with Cocoa 3851 for
  /// a value a property list cannot hold (null, URL, error, opaque, anywhere inside), or with the
  /// file system's error when the file cannot be written.
  Result<void> set(std::string_view key, const Value& value);
  /// Reads the value under `key` (absent when missing), lets `change` edit it, and stores the
  /// result (absent removes the key), all under the cross-process lock: a change another thread or
  /// process makes to the key in between is never lost. Nothing is written when `change` leaves
  /// the value as it was. `change` runs with the store locked: it must not use this store. Errors
  /// as set(), and the file system's error when the existing file cannot be read.
  Result<void> update(std::string_view key, const std::function<void(Value&)>& change);
  Result<void> removeObject(std::string_view key);
  Result<void> setInteger(std::string_view key, std::int64_t value);
  Result<void> setBool(std::string_view key, bool value);
  Result<void> setDouble(std::string_view key, double value);

  // Typed reads: a value only for an entry of that kind (a number is not a string, text is not data).
  std::optional<std::string> string(std::string_view key);
  std::optional<Array> array(std::string_view key);
  std::optional<Dictionary> dictionary(std::string_view key);
  std::optional<Data> data(std::string_view key);
  std::optional<Date> date(std::string_view key);
  /// A number read as an integer (true reads 1, 2.9 reads 2); anything else 0.
  std::int64_t integer(std::string_view key);
  /// A number read as a double; anything else 0.
  double doubleValue(std::string_view key);
  /// A bool, or a number read as non-zero; anything else false.
  bool boolean(std::string_view key);

  /// Every change is written when it is made or refused, so the file always holds every change
  /// of this store: true. Kept for callers that flush before they hand the file to another process.
  bool synchronize();
  /// Every entry.
  Dictionary dictionaryRepresentation();

  /// The file this store lives in.
  const std::string& filePath() const { return path_; }

  explicit UserDefaults(std::string path);

 private:
  struct FileIdentity {
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t mtimeNanoseconds = -1;
    bool exists = false;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
  };
  /// Whether the caller holds the cross-process lock of the file.
  enum class FileLockHeld : bool { No, Yes };
  static FileIdentity identityOf(const struct stat& st);
  /// Brings values_ up to date with the file. Fails when the file exists but cannot be read; the
  /// values then stay as they were.
  Result<void> reloadIfChangedLocked(FileLockHeld held);
  /// Moves the unreadable file with `identity` aside, unless it was replaced meanwhile.
  void setAsideLocked(const FileIdentity& identity, FileLockHeld held);
  Result<void> updateLocked(std::string_view key, const std::function<void(Value&)>& change);
  /// Posts the notification of a file moved aside during the last locked step; called unlocked.
  void postSetAside(std::optional<std::string> keptAs);

  std::string path_;
  std::mutex mutex_;
  Dictionary values_;
  FileIdentity seen_;
  bool loaded_ = false;
  /// Where the last unreadable file was moved, until its notification is posted.
  std::optional<std::string> setAside_;
};

}  // namespace foundation
