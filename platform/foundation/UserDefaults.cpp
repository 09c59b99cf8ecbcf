#include "platform/foundation/UserDefaults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <unordered_map>

#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "platform/foundation/SystemCalls.h"
#include "platform/foundation/detail/FileSystemCalls.h"

namespace foundation {

namespace {

struct Registry {
  std::mutex mutex;
  std::unordered_map<std::string, std::shared_ptr<UserDefaults>> stores;  ///< by file path
};

Registry& registry() {
  static Registry* const r = new Registry();
  return *r;
}

/// Holds an exclusive flock on a lock file beside the store for as long as it lives.
class FileLock {
 public:
  explicit FileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool locked() const { return fd_ >= 0; }

 private:
  int fd_;
};

}  // namespace

UserDefaults::FileIdentity UserDefaults::identityOf(const struct stat& st) {
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                      static_cast<std::uint64_t>(st.st_size),
                      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec, true};
}

std::shared_ptr<UserDefaults> UserDefaults::standard() {
  const std::string home = DeviceRoot::homePath();
  return suite(home.substr(home.find_last_of('/') + 1));
}

std::shared_ptr<UserDefaults> UserDefaults::suite(std::string_view name) {
  if (!DeviceRoot::isPlainName(name)) return nullptr;
  const auto container = DeviceRoot::containerPath(name);
  const std::string folder = container ? *container : DeviceRoot::homePath();
  std::string path = folder + "/Library/Preferences/" + std::string(name) + ".plist";

  auto& r = registry();
  std::lock_guard lock(r.mutex);
  auto& store = r.stores[path];
  if (!store) store = std::make_shared<UserDefaults>(path);
  return store;
}

UserDefaults::UserDefaults(std::string path) : path_(std::move(path)) {}

void UserDefaults::reloadIfChangedLocked() {
  // One stat decides whether anything changed since the last read; most reads stop here.
  struct stat st;
  const bool exists = ::stat(path_.c_str(), &st) == 0;
  if (loaded_ && (exists ? identityOf(st) == seen_ : !seen_.exists)) return;

  FileIdentity identity;
  Dictionary fromFile;
  if (const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
    // The identity of what is actually read: the file may have been replaced since the stat.
    if (::fstat(fd, &st) == 0) identity = identityOf(st);
    std::string bytes;
    const int err = readFully(fd, bytes);
    ::close(fd);
    // A file that is not a property-list dictionary reads as empty; it is replaced whole at the
    // next change.
    if (!err) {
      if (auto parsed = PropertyListSerialization::propertyListWithData(bytes); parsed && parsed->dictionary()) {
        fromFile = *parsed->dictionary();
      }
    }
  }
  values_ = std::move(fromFile);
  for (const auto& [key, value] : pending_) values_.set(key, value);
  seen_ = identity;
  loaded_ = true;
}

Result<void> UserDefaults::persistLocked() {
  if (pending_.empty()) return {};
  auto& files = FileManager::defaultManager();
  const std::string folder = path_.substr(0, path_.find_last_of('/'));
  if (auto made = files.createDirectory(folder, Intermediates::Yes); !made) return made.error();
  FileLock lock(path_ + ".lock");
  if (!lock.locked()) return Error::posix(errno, "cannot lock " + path_ + ".lock");
  // Another process may have written since the last read: start from its file and apply only
  // this store's own changes on top.
  reloadIfChangedLocked();
  auto bytes = PropertyListSerialization::dataFromPropertyList(Value(values_));
  if (!bytes) return bytes.error();
  if (auto written = files.writeFileAtomically(path_, *bytes); !written) return written.error();
  pending_.clear();
  // The file is ours while the lock is held: remember it, so the next read does not parse it.
  struct stat st;
  if (::stat(path_.c_str(), &st) == 0) seen_ = identityOf(st);
  return {};
}

void UserDefaults::applyLocked(std::string_view key, const Value& value) {
  reloadIfChangedLocked();
  values_.set(std::string(key), value);
  pending_.insert_or_assign(std::string(key), value);
  (void)persistLocked();  // a failure keeps the change pending; synchronize() reports it
}

Value UserDefaults::object(std::string_view key) {
  std::lock_guard lock(mutex_);
  reloadIfChangedLocked();
  return values_[key];
}

Result<void> UserDefaults::set(std::string_view key, const Value& value) {
  if (!value.isAbsent()) {
    if (auto checked = PropertyListSerialization::dataFromPropertyList(value); !checked) return checked.error();
  }
  std::lock_guard lock(mutex_);
  applyLocked(key, value);
  return {};
}

void UserDefaults::removeObject(std::string_view key) {
  std::lock_guard lock(mutex_);
  applyLocked(key, Value());
}

void UserDefaults::setInteger(std::string_view key, std::int64_t value) {
  std::lock_guard lock(mutex_);
  applyLocked(key, Value(value));
}

void UserDefaults::setBool(std::string_view key, bool value) {
  std::lock_guard lock(mutex_);
  applyLocked(key, Value(value));
}

void UserDefaults::setDouble(std::string_view key, double value) {
  std::lock_guard lock(mutex_);
  applyLocked(key, Value(value));
}

std::optional<std::string> UserDefaults::string(std::string_view key) { return object(key).asString(); }

std::optional<Array> UserDefaults::array(std::string_view key) {
  const Value v = object(key);
  if (const Array* a = v.array()) return *a;
  return std::nullopt;
}

std::optional<Dictionary> UserDefaults::dictionary(std::string_view key) {
  const Value v = object(key);
  if (const Dictionary* d = v.dictionary()) return *d;
  return std::nullopt;
}

std::optional<Data> UserDefaults::data(std::string_view key) {
  const Value v = object(key);
  if (const Data* d = v.data()) return *d;
  return std::nullopt;
}

std::optional<Date> UserDefaults::date(std::string_view key) {
  const Value v = object(key);
  if (const Date* d = v.date()) return *d;
  return std::nullopt;
}

std::int64_t UserDefaults::integer(std::string_view key) {
  const Value v = object(key);
  const Number* n = v.number();
  return n ? n->int64Value() : 0;
}

double UserDefaults::doubleValue(std::string_view key) {
  const Value v = object(key);
  const Number* n = v.number();
  return n ? n->doubleValue() : 0.0;
}

bool UserDefaults::boolean(std::string_view key) {
  const Value v = object(key);
  const Number* n = v.number();
  return n && n->boolValue();
}

bool UserDefaults::synchronize() {
  std::lock_guard lock(mutex_);
  return persistLocked().ok();
}

Dictionary UserDefaults::dictionaryRepresentation() {
  std::lock_guard lock(mutex_);
  reloadIfChangedLocked();
  return values_;
}

}  // namespace foundation
