#include "platform/foundation/UserDefaults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <optional>
#include <utility>
#include <unordered_map>

#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/NotificationCenter.h"
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
    if (foundation::retryOnInterrupt([&] { return ::flock(fd_, LOCK_EX); }) != 0) {
      ::close(fd_);
      fd_ = -1;
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

Result<void> UserDefaults::reloadIfChangedLocked(FileLockHeld held) {
  // One stat decides whether anything changed since the last read; most reads stop here.
  struct stat st;
  const bool exists = ::stat(path_.c_str(), &st) == 0;
  if (loaded_ && (exists ? identityOf(st) == seen_ : !seen_.exists)) return {};

  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    // No file (or no folder) holds nothing; any other failure leaves the values as they were.
    if (errno != ENOENT && errno != ENOTDIR) return Error::posix(errno, "cannot read " + path_);
    values_ = Dictionary();
    seen_ = FileIdentity();
    loaded_ = true;
    return {};
  }
  // The identity of what is actually read: the file may have been replaced since the stat.
  FileIdentity identity;
  if (::fstat(fd, &st) == 0) identity = identityOf(st);
  std::string bytes;
  const int err = readFully(fd, bytes);
  ::close(fd);
  if (err) return Error::posix(err, "cannot read " + path_);

  auto parsed = PropertyListSerialization::propertyListWithData(bytes);
  if (parsed && parsed->dictionary()) {
    values_ = *parsed->dictionary();
  } else {
    // Files are replaced atomically, so this is no write in progress: the file is damaged. It is
    // kept for whoever wants to look at it, and the settings start over from their defaults.
    setAsideLocked(identity, held);
    values_ = Dictionary();
  }
  seen_ = identity;
  loaded_ = true;
  return {};
}

void UserDefaults::setAsideLocked(const FileIdentity& identity, FileLockHeld held) {
  std::optional<FileLock> lock;
  if (held == FileLockHeld::No) {
    lock.emplace(path_ + ".lock");
    if (!lock->locked()) return;
  }
  // Another process may have set it aside, or written a good file, since it was read.
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0 || identityOf(st) != identity) return;

  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  const std::string base = path_ + ".corrupt-" + stamp;
  // link() never replaces an earlier file kept in the same second; the next free name is taken.
  for (int attempt = 1; attempt <= 100; ++attempt) {
    std::string aside = attempt == 1 ? base : base + "-" + std::to_string(attempt);
    if (::link(path_.c_str(), aside.c_str()) == 0) {
      ::unlink(path_.c_str());
      setAside_ = std::move(aside);
      return;
    }
    if (errno != EEXIST) return;
  }
}

void UserDefaults::postSetAside(std::optional<std::string> keptAs) {
  if (!keptAs) return;
  NotificationCenter::defaultCenter().post(kUnreadableFileSetAsideNotification, Value(),
                                           Dictionary{{"path", path_}, {"keptAs", std::move(*keptAs)}});
}

Result<void> UserDefaults::updateLocked(std::string_view key, const std::function<void(Value&)>& change) {
  auto& files = FileManager::defaultManager();
  const std::string folder = path_.substr(0, path_.find_last_of('/'));
  if (auto made = files.createDirectory(folder, Intermediates::Yes); !made) return made.error();
  FileLock lock(path_ + ".lock");
  if (!lock.locked()) return Error::posix(errno, "cannot lock " + path_ + ".lock");
  // Under the lock the file is the truth: start from it, so another process's change stays.
  if (auto loaded = reloadIfChangedLocked(FileLockHeld::Yes); !loaded) return loaded.error();

  const Value old = values_[key];
  Value value = old;
  change(value);
  if (value == old) return {};
  if (!value.isAbsent()) {
    if (auto checked = PropertyListSerialization::dataFromPropertyList(value); !checked) return checked.error();
  }
  Dictionary next = values_;
  next.set(std::string(key), std::move(value));
  auto bytes = PropertyListSerialization::dataFromPropertyList(Value(next));
  if (!bytes) return bytes.error();
  if (auto written = files.writeFileAtomically(path_, *bytes); !written) return written.error();
  values_ = std::move(next);
  // The file is ours while the lock is held: remember it, so the next read does not parse it.
  struct stat st;
  if (::stat(path_.c_str(), &st) == 0) seen_ = identityOf(st);
  return {};
}

Value UserDefaults::object(std::string_view key) {
  Value value;
  std::optional<std::string> aside;
  {
    std::lock_guard lock(mutex_);
    // A file that cannot be read leaves the last values known.
    (void)reloadIfChangedLocked(FileLockHeld::No);
    value = values_[key];
    aside = std::exchange(setAside_, std::nullopt);
  }
  postSetAside(std::move(aside));
  return value;
}

Result<void> UserDefaults::update(std::string_view key, const std::function<void(Value&)>& change) {
  Result<void> result;
  std::optional<std::string> aside;
  {
    std::lock_guard lock(mutex_);
    result = updateLocked(key, change);
    aside = std::exchange(setAside_, std::nullopt);
  }
  postSetAside(std::move(aside));
  return result;
}

Result<void> UserDefaults::set(std::string_view key, const Value& value) {
  return update(key, [&value](Value& stored) { stored = value; });
}

Result<void> UserDefaults::removeObject(std::string_view key) { return set(key, Value()); }

Result<void> UserDefaults::setInteger(std::string_view key, std::int64_t value) { return set(key, Value(value)); }

Result<void> UserDefaults::setBool(std::string_view key, bool value) { return set(key, Value(value)); }

Result<void> UserDefaults::setDouble(std::string_view key, double value) { return set(key, Value(value)); }

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

bool UserDefaults::synchronize() { return true; }

Dictionary UserDefaults::dictionaryRepresentation() {
  Dictionary values;
  std::optional<std::string> aside;
  {
    std::lock_guard lock(mutex_);
    (void)reloadIfChangedLocked(FileLockHeld::No);
    values = values_;
    aside = std::exchange(setAside_, std::nullopt);
  }
  postSetAside(std::move(aside));
  return values;
}

}  // namespace foundation
