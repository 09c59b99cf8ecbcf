#pragma once
#include <cstdint>
#include <map>
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
/// "<name>.plist.lock", re-reads the file when another process changed it, applies only this
/// store's own changes, and writes the file atomically; reads re-read the file when it changed
/// (inode, size or modification time). Two processes changing different keys lose neither.
/// A change that cannot be written stays in memory and is written with the next change or by
/// synchronize(). An unreadable file reads as holding nothing; it is replaced at the next change.
class UserDefaults {
 public:
  /// The store of the running deliverable, named after its bundle identifier.
  static std::shared_ptr<UserDefaults> standard();
  /// The store named `name`, one per name per process; nullptr for a name that is not a plain
  /// file name.
  static std::shared_ptr<UserDefaults> suite(std::string_view name);

  /// The stored value; absent when missing.
  Value object(std::string_view key);
  /// Stores a value; an absent value removes the key. Fails with Cocoa 3851, storing nothing,
  /// for a value a property list cannot hold (null, URL, error, opaque, anywhere inside).
  Result<void> set(std::string_view key, const Value& value);
  void removeObject(std::string_view key);
  void setInteger(std::string_view key, std::int64_t value);
  void setBool(std::string_view key, bool value);
  void setDouble(std::string_view key, double value);

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

  /// Writes changes not yet on disk. True when the file holds every change of this store.
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
  static FileIdentity identityOf(const struct stat& st);
  void reloadIfChangedLocked();
  Result<void> persistLocked();
  void applyLocked(std::string_view key, const Value& value);

  std::string path_;
  std::mutex mutex_;
  Dictionary values_;
  /// Changes not yet written: key to new value (absent for a removal).
  std::map<std::string, Value, std::less<>> pending_;
  FileIdentity seen_;
  bool loaded_ = false;
};

}  // namespace foundation
