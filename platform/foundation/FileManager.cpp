#include "platform/foundation/FileManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/SystemCalls.h"
#include "platform/foundation/detail/FileSystemCalls.h"

namespace foundation {

namespace {

CocoaError readCode(int errnum) {
  switch (errnum) {
    case ENOENT:
    case ENOTDIR: return CocoaError::FileReadNoSuchFile;
    case EACCES:
    case EPERM: return CocoaError::FileReadNoPermission;
    default: return CocoaError::FileReadUnknown;
  }
}

CocoaError writeCode(int errnum) {
  switch (errnum) {
    case EACCES:
    case EPERM:
    case EROFS: return CocoaError::FileWriteNoPermission;
    case ENOSPC:
    case EDQUOT: return CocoaError::FileWriteOutOfSpace;
    case EEXIST: return CocoaError::FileWriteFileExists;
    case ENOENT:
    case ENOTDIR: return CocoaError::FileNoSuchFile;
    default: return CocoaError::FileWriteUnknown;
  }
}

/// "cannot VERB PATH: reason", with the path and the POSIX error in the user info.
Error fileError(CocoaError code, std::string_view verb, const std::string& path, int errnum) {
  const std::string reason = std::strerror(errnum);
  Dictionary info{
      {kLocalizedDescriptionKey, "cannot " + std::string(verb) + " " + path + ": " + reason},
      {kFilePathErrorKey, path},
      {kUnderlyingErrorKey, Error::posix(errnum, path)},
  };
  return Error(kCocoaErrorDomain, static_cast<std::int64_t>(code), std::move(info));
}

Error readError(std::string_view verb, const std::string& path, int errnum) {
  return fileError(readCode(errnum), verb, path, errnum);
}

Error writeError(std::string_view verb, const std::string& path, int errnum) {
  return fileError(writeCode(errnum), verb, path, errnum);
}

bool itemExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

/// Lists a folder's names; 0 or errno.
int listDirectory(const std::string& path, std::vector<std::string>& names) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return errno;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return 0;
}

/// Removes a file or a folder tree; 0 or the errno of the first failure.
int removeTree(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) {
    std::vector<std::string> names;
    if (int err = listDirectory(path, names)) return err;
    for (const auto& name : names) {
      if (int err = removeTree(path + "/" + name)) return err;
    }
    return ::rmdir(path.c_str()) == 0 ? 0 : errno;
  }
  return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

/// Copies one regular file to a new path; 0 or errno. The target is removed on failure.
int copyFile(const std::string& src, const std::string& dst, mode_t mode) {
  FileDescriptor in(::open(src.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) return errno;
  FileDescriptor out(::open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 07777));
  if (!out) return errno;
  int err = 0;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = retryOnInterrupt([&] { return ::read(in.get(), buffer, sizeof buffer); });
    if (n < 0) { err = errno; break; }
    if (n == 0) break;
    if ((err = writeFully(out.get(), std::string_view(buffer, static_cast<std::size_t>(n))))) break;
  }
  if (const int closeErr = out.close(); !err) err = closeErr;
  if (err) ::unlink(dst.c_str());
  return err;
}

/// Copies a file, a symbolic link or a folder tree to a new path; 0 or errno. `created` turns
/// true once `dst` itself was made by this call, so that a caller cleaning up after a failure
/// never removes an item someone else put there meanwhile.
int copyTree(const std::string& src, const std::string& dst, bool& created) {
  struct stat st;
  if (::lstat(src.c_str(), &st) != 0) return errno;
  if (S_ISLNK(st.st_mode)) {
    std::string target(static_cast<std::size_t>(st.st_size) + 1, '\0');
    const ssize_t n = ::readlink(src.c_str(), target.data(), target.size());
    if (n < 0) return errno;
    target.resize(static_cast<std::size_t>(n));
    if (::symlink(target.c_str(), dst.c_str()) != 0) return errno;
    created = true;
    return 0;
  }
  if (S_ISREG(st.st_mode)) return copyFile(src, dst, st.st_mode);  // removes its own partial file
  if (!S_ISDIR(st.st_mode)) return ENOTSUP;
  if (::mkdir(dst.c_str(), (st.st_mode & 07777) | S_IRWXU) != 0) return errno;
  created = true;
  std::vector<std::string> names;
  if (int err = listDirectory(src, names)) return err;
  for (const auto& name : names) {
    bool inner = false;
    if (int err = copyTree(src + "/" + name, dst + "/" + name, inner)) return err;
  }
  return 0;
}

Date dateOf(const statx_timestamp& t) {
  return Date::fromTimeIntervalSince1970(static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9);
}

URL directoryURL(const std::string& path) { return URL::fileURL(path, /*isDirectory=*/true); }

}  // namespace

FileManager& FileManager::defaultManager() {
  static FileManager* const manager = new FileManager();
  return *manager;
}

bool FileManager::fileExists(const std::string& path, bool* isDirectory) const {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
  return true;
}

Result<void> FileManager::createDirectory(const std::string& path, Intermediates withIntermediates) const {
  if (path.empty()) return writeError("create folder", path, ENOENT);
  std::vector<std::string> steps;
  if (withIntermediates == Intermediates::Yes) {
    // Most calls find the folder, or at least its parent, in place: one call then does what the
    // walk from the root below does with one call (and a check) per component. Anything else
    // takes the walk, which creates what is missing and reports a failure as it always has.
    bool isDirectory = false;
    if (::mkdir(path.c_str(), 0755) == 0 || (errno == EEXIST && fileExists(path, &isDirectory) && isDirectory)) {
      return {};
    }
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
      steps.push_back(path.substr(0, slash));
    }
  }
  steps.push_back(path);
  for (const auto& step : steps) {
    if (::mkdir(step.c_str(), 0755) == 0) continue;
    const int err = errno;
    bool isDirectory = false;
    if (err == EEXIST && fileExists(step, &isDirectory) && isDirectory) continue;
    return writeError("create folder", path, err);
  }
  return {};
}

Result<void> FileManager::copyItem(const std::string& src, const std::string& dst) const {
  if (!itemExists(src)) return readError("copy", src, ENOENT);
  if (itemExists(dst)) return writeError("copy " + src + " to", dst, EEXIST);
  bool created = false;
  if (const int err = copyTree(src, dst, created)) {
    // A copy that stopped half-way is removed, so the target never holds part of the source.
    // When the target appeared after the check above, it is someone else's and stays.
    if (created) removeTree(dst);
    return writeError("copy " + src + " to", dst, err);
  }
  return {};
}

Result<void> FileManager::replaceItem(const std::string& original, const std::string& withItem) const {
  if (!itemExists(withItem)) return fileError(CocoaError::FileNoSuchFile, "replace " + original + " with", withItem, ENOENT);
  if (detail::fileSystemCalls().rename(withItem.c_str(), original.c_str()) != 0) {
    return writeError("replace", original, errno);
  }
  return {};
}

Result<void> FileManager::moveItem(const std::string& src, const std::string& dst) const {
  if (!itemExists(src)) return fileError(CocoaError::FileNoSuchFile, "move", src, ENOENT);
  if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0) return {};
  int err = errno;
  if (err == EINVAL || err == ENOSYS) {
    // The file system cannot rename without replacing: check, then rename.
    if (itemExists(dst)) return writeError("move " + src + " to", dst, EEXIST);
    if (::rename(src.c_str(), dst.c_str()) == 0) return {};
    err = errno;
  }
  if (err == EXDEV) {
    if (auto copied = copyItem(src, dst); !copied) return copied.error();
    if (const int removeErr = removeTree(src)) return writeError("remove", src, removeErr);
    return {};
  }
  return writeError("move " + src + " to", dst, err);
}

Result<void> FileManager::removeItem(const std::string& path) const {
  if (const int err = removeTree(path)) {
    return err == ENOENT ? fileError(CocoaError::FileNoSuchFile, "remove", path, err)
                         : writeError("remove", path, err);
  }
  return {};
}

Result<std::vector<std::string>> FileManager::contentsOfDirectory(const std::string& path) const {
  std::vector<std::string> names;
  if (const int err = listDirectory(path, names)) return readError("list", path, err);
  return names;
}

Result<FileAttributes> FileManager::attributesOfItem(const std::string& path) const {
  struct statx stx;
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0) {
    return readError("read attributes of", path, errno);
  }
  FileAttributes attributes;
  if (S_ISREG(stx.stx_mode)) attributes.type = FileType::Regular;
  else if (S_ISDIR(stx.stx_mode)) attributes.type = FileType::Directory;
  else if (S_ISLNK(stx.stx_mode)) attributes.type = FileType::SymbolicLink;
  attributes.size = stx.stx_size;
  attributes.modificationDate = dateOf(stx.stx_mtime);
  attributes.creationDate = (stx.stx_mask & STATX_BTIME) ? dateOf(stx.stx_btime) : attributes.modificationDate;
  return attributes;
}

Result<Data> FileManager::readFile(const std::string& path) const {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return readError("read", path, errno);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return readError("read", path, errno);
  if (S_ISDIR(st.st_mode)) return readError("read", path, EISDIR);
  std::string bytes;
  if (st.st_size > 0) bytes.reserve(static_cast<std::size_t>(st.st_size));
  if (const int err = readFully(fd.get(), bytes)) return readError("read", path, err);
  return Data(std::move(bytes));
}

namespace {

/// What writeFileAtomically appends to a file's name for its temporary file; mkostemp fills the X.
constexpr std::string_view kTemporarySuffix = ".tmp-XXXXXX";

/// True for a name writeFileAtomically gives a temporary file.
bool isTemporaryName(std::string_view name) {
  const std::size_t marker = kTemporarySuffix.size() - 6;
  if (name.size() <= kTemporarySuffix.size()) return false;
  return name.substr(name.size() - kTemporarySuffix.size(), marker) == kTemporarySuffix.substr(0, marker);
}


}  // namespace

Error fileWriteError(const std::string& path, int errnum) { return writeError("write", path, errnum); }

int createLockedTemporaryFile(const std::string& path, std::string& temporary) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    temporary = path + std::string(kTemporarySuffix);
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (retryOnInterrupt([&] { return ::flock(fd, LOCK_EX); }) != 0 || ::fstat(fd, &st) != 0) {
      const int err = errno;
      ::unlink(temporary.c_str());
      ::close(fd);
      errno = err;
      return -1;
    }
    if (st.st_nlink > 0) return fd;
    ::close(fd);
  }
  errno = EAGAIN;
  return -1;
}

Result<void> FileManager::writeFileAtomically(const std::string& path, std::string_view bytes,
                                              FlushToDisk flush) const {
  if (path.empty() || path.back() == '/') return writeError("write", path, EISDIR);
  std::string temporary;
  FileDescriptor fd(createLockedTemporaryFile(path, temporary));
  if (!fd) return writeError("write", path, errno);

  struct stat existing;
  const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
  const auto& calls = detail::fileSystemCalls();
  int err = ::fchmod(fd.get(), mode) == 0 ? 0 : errno;
  if (!err) err = writeFully(fd.get(), bytes, calls.write);
  if (!err && flush == FlushToDisk::Yes && calls.fsync(fd.get()) != 0) err = errno;
  // Renamed while the descriptor, and so the lock, is still held: a cleaner must not take the
  // file between the close and the rename.
  if (!err && calls.rename(temporary.c_str(), path.c_str()) != 0) err = errno;
  if (const int closeErr = fd.close(); !err) err = closeErr;
  if (err) {
    ::unlink(temporary.c_str());
    return writeError("write", path, err);
  }
  return {};
}

Result<void> FileManager::writeFileAtomically(const std::string& path, const Data& data) const {
  return writeFileAtomically(path, data.view());
}

std::size_t FileManager::removeAbandonedTemporaryFiles(const std::string& folder) const {
  std::vector<std::string> names;
  if (listDirectory(folder, names) != 0) return 0;
  std::size_t removed = 0;
  for (const std::string& name : names) {
    if (!isTemporaryName(name)) continue;
    const std::string path = folder + "/" + name;
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!fd) continue;
    // A writer holds the lock until it has renamed the file into place: a free lock means the
    // process that made the file is gone. The lock is held across the removal, so a writer that
    // made the file just now finds it unnamed and makes another.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
    struct stat opened, named;
    if (::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) continue;
    if (::lstat(path.c_str(), &named) != 0 || named.st_ino != opened.st_ino || named.st_dev != opened.st_dev) continue;
    if (::unlink(path.c_str()) == 0) ++removed;
  }
  return removed;
}

std::optional<URL> FileManager::containerURL(std::string_view forSecurityApplicationGroupIdentifier) const {
  auto path = DeviceRoot::containerPath(forSecurityApplicationGroupIdentifier);
  if (!path) return std::nullopt;
  return directoryURL(*path);
}

URL FileManager::temporaryDirectory() const { return directoryURL(DeviceRoot::homePath() + "/tmp"); }

URL FileManager::cachesDirectory() const { return directoryURL(DeviceRoot::homePath() + "/Library/Caches"); }

// URL forms: the same operations on the path of a file URL. Any other URL names no file.

namespace {
Error notFileURL(const URL& url, CocoaError code) {
  return Error::cocoa(code, "cannot use " + url.absoluteString() + ": not a file URL");
}
constexpr CocoaError kRead = CocoaError::FileReadUnknown;
constexpr CocoaError kWrite = CocoaError::FileWriteUnknown;
}  // namespace

bool FileManager::fileExists(const URL& url, bool* isDirectory) const {
  return url.isFileURL() && fileExists(url.path(), isDirectory);
}
Result<void> FileManager::createDirectory(const URL& url, Intermediates withIntermediates) const {
  if (!url.isFileURL()) return notFileURL(url, kWrite);
  return createDirectory(url.path(), withIntermediates);
}
Result<void> FileManager::copyItem(const URL& src, const URL& dst) const {
  if (!src.isFileURL()) return notFileURL(src, kRead);
  if (!dst.isFileURL()) return notFileURL(dst, kWrite);
  return copyItem(src.path(), dst.path());
}
Result<void> FileManager::replaceItem(const URL& original, const URL& withItem) const {
  if (!original.isFileURL()) return notFileURL(original, kWrite);
  if (!withItem.isFileURL()) return notFileURL(withItem, kRead);
  return replaceItem(original.path(), withItem.path());
}
Result<void> FileManager::moveItem(const URL& src, const URL& dst) const {
  if (!src.isFileURL()) return notFileURL(src, kRead);
  if (!dst.isFileURL()) return notFileURL(dst, kWrite);
  return moveItem(src.path(), dst.path());
}
Result<void> FileManager::removeItem(const URL& url) const {
  if (!url.isFileURL()) return notFileURL(url, kWrite);
  return removeItem(url.path());
}
Result<Data> FileManager::readFile(const URL& url) const {
  if (!url.isFileURL()) return notFileURL(url, kRead);
  return readFile(url.path());
}
Result<void> FileManager::writeFileAtomically(const URL& url, const Data& data, FlushToDisk flush) const {
  if (!url.isFileURL()) return notFileURL(url, kWrite);
  return writeFileAtomically(url.path(), data.view(), flush);
}

}  // namespace foundation
