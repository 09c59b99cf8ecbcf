#include "DozidiCrashFileUtils.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "DozidiCrashFormat.h"
#include "DozidiCrashLogger.h"
#include "platform/foundation/SystemCalls.h"

namespace {

int openRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  fd = foundation::retryOnInterrupt([&] { return ::open(path, flags | O_CLOEXEC, mode); });
  return fd;
}

bool isDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool deletePathContents(const char* path, bool deleteTopLevel) {
  struct stat info;
  if (::lstat(path, &info) != 0) {
    DOZIDICRASHLOG_ERROR("Could not stat %s: %s", path, dozidicrashfmt_errorText(errno));
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    // A symbolic link or any other non-directory is removed as an entry, never followed.
    return dozidicrashfu_removeFile(path, false);
  }
  DIR* dir = ::opendir(path);
  if (dir == nullptr) {
    DOZIDICRASHLOG_ERROR("Error reading directory %s: %s", path, dozidicrashfmt_errorText(errno));
    return false;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    if (!isDotEntry(entry->d_name)) names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  bool ok = true;
  for (const std::string& name : names) {
    // A full path, never one cut to a fixed buffer: a cut path could name another entry.
    const std::string child = std::string(path) + "/" + name;
    ok = deletePathContents(child.c_str(), true) && ok;
  }
  if (deleteTopLevel) ok = dozidicrashfu_removeFile(path, true) && ok;
  return ok;
}

}  // namespace

const char* dozidicrashfu_lastPathEntry(const char* path) {
  if (path == nullptr) return nullptr;
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? path : slash + 1;
}

bool dozidicrashfu_writeBytesToFD(int fd, const char* bytes, int length) {
  while (length > 0) {
    const ssize_t written =
        foundation::retryOnInterrupt([&] { return ::write(fd, bytes, static_cast<std::size_t>(length)); });
    if (written <= 0) {
      // A write that takes no bytes would loop forever: it counts as a failure too.
      DOZIDICRASHLOG_ERROR("Could not write to fd %d: %s", fd,
                           written < 0 ? dozidicrashfmt_errorText(errno) : "no bytes written");
      return false;
    }
    bytes += written;
    length -= static_cast<int>(written);
  }
  return true;
}

bool dozidicrashfu_readBytesFromFD(int fd, char* buffer, int length) {
  while (length > 0) {
    const ssize_t count =
        foundation::retryOnInterrupt([&] { return ::read(fd, buffer, static_cast<std::size_t>(length)); });
    if (count < 0) {
      DOZIDICRASHLOG_ERROR("Could not read fd %d: %s", fd, dozidicrashfmt_errorText(errno));
      return false;
    }
    if (count == 0) {
      DOZIDICRASHLOG_ERROR("Could not read fd %d: end of file with %d bytes missing", fd, length);
      return false;
    }
    buffer += count;
    length -= static_cast<int>(count);
  }
  return true;
}

std::optional<std::string> dozidicrashfu_readEntireFile(const char* path, std::int64_t maxLength) {
  struct stat info;
  if (::stat(path, &info) != 0) {
    DOZIDICRASHLOG_ERROR("Could not stat %s: %s", path, dozidicrashfmt_errorText(errno));
    return std::nullopt;
  }
  const int fd = openRetrying(path, O_RDONLY);
  if (fd < 0) {
    DOZIDICRASHLOG_ERROR("Could not open %s: %s", path, dozidicrashfmt_errorText(errno));
    return std::nullopt;
  }
  std::int64_t size = info.st_size;
  if (maxLength > 0 && size > maxLength) {
    size = maxLength;
    if (::lseek(fd, -static_cast<off_t>(maxLength), SEEK_END) < 0) {
      DOZIDICRASHLOG_ERROR("Could not seek to %lld from end of %s: %s", static_cast<long long>(-maxLength),
                           path, dozidicrashfmt_errorText(errno));
      ::close(fd);
      return std::nullopt;
    }
  }
  std::string data(static_cast<std::size_t>(size), '\0');
  const bool ok = size == 0 || dozidicrashfu_readBytesFromFD(fd, data.data(), static_cast<int>(size));
  ::close(fd);
  if (!ok) return std::nullopt;
  return data;
}

bool dozidicrashfu_makePath(const char* path) {
  // A stack copy, cut at each separator in turn: this runs in the crash path too (the
  // attachments folder), where nothing may be allocated.
  char prefix[PATH_MAX];
  const std::size_t length = std::strlen(path);
  if (length >= sizeof(prefix)) {
    DOZIDICRASHLOG_ERROR("Could not create directory %s: %s", path, dozidicrashfmt_errorText(ENAMETOOLONG));
    return false;
  }
  std::memcpy(prefix, path, length + 1);
  for (std::size_t i = 1; i <= length; ++i) {
    if (i < length && prefix[i] != '/') continue;
    const char saved = prefix[i];
    prefix[i] = '\0';
    const bool made = ::mkdir(prefix, S_IRWXU) == 0 || errno == EEXIST;
    if (!made) DOZIDICRASHLOG_ERROR("Could not create directory %s: %s", prefix, dozidicrashfmt_errorText(errno));
    prefix[i] = saved;
    if (!made) return false;
  }
  return true;
}

bool dozidicrashfu_removeFile(const char* path, bool mustExist) {
  // unlink and rmdir, unlike remove(), are async-signal-safe.
  if (::unlink(path) == 0 || (errno == EISDIR && ::rmdir(path) == 0)) return true;
  if (mustExist || errno != ENOENT) {
    DOZIDICRASHLOG_ERROR("Could not delete %s: %s", path, dozidicrashfmt_errorText(errno));
  }
  return false;
}

bool dozidicrashfu_deleteContentsOfPath(const char* path) {
  const char* last = dozidicrashfu_lastPathEntry(path);
  if (last == nullptr || isDotEntry(last)) return false;
  return deletePathContents(path, false);
}

bool dozidicrashfu_deletePath(const char* path) {
  struct stat info;
  if (::lstat(path, &info) != 0) return errno == ENOENT;
  return deletePathContents(path, true);
}

bool dozidicrashfu_openBufferedWriter(DozidiCrashBufferedWriter* writer, const char* path, char* buffer,
                                      int bufferLength) {
  writer->buffer = buffer;
  writer->bufferLength = bufferLength;
  writer->position = 0;
  writer->fd = openRetrying(path, O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (writer->fd < 0) {
    DOZIDICRASHLOG_ERROR("Could not open crash report file %s: %s", path, dozidicrashfmt_errorText(errno));
    return false;
  }
  return true;
}

int dozidicrashfu_openUnnamedFile(const char* folder) { return openRetrying(folder, O_TMPFILE | O_WRONLY, 0644); }

bool dozidicrashfu_openBufferedWriterOnUnnamedFile(DozidiCrashBufferedWriter* writer, int fd, const char* path,
                                                   char* buffer, int bufferLength) {
  writer->buffer = buffer;
  writer->bufferLength = bufferLength;
  writer->position = 0;
  writer->fd = -1;
  // Without the right to link by descriptor, the file is named through its entry in /proc.
  char fdPath[40];
  dozidicrashfmt_format(fdPath, sizeof fdPath, "/proc/self/fd/%d", fd);
  if (::linkat(AT_FDCWD, fdPath, AT_FDCWD, path, AT_SYMLINK_FOLLOW) != 0) {
    DOZIDICRASHLOG_ERROR("Could not name crash report file %s: %s", path, dozidicrashfmt_errorText(errno));
    ::close(fd);
    return false;
  }
  writer->fd = fd;
  return true;
}

bool dozidicrashfu_writeBufferedWriter(DozidiCrashBufferedWriter* writer, const char* bytes, int length) {
  if (length <= 0) return true;
  if (writer->bufferLength - writer->position < length) {
    // Without room in the buffer the bytes must not be taken in: copying after a failed flush
    // would run past the end of the caller's buffer.
    if (!dozidicrashfu_flushBufferedWriter(writer)) return false;
  }
  if (length <= writer->bufferLength - writer->position) {
    std::memcpy(writer->buffer + writer->position, bytes, static_cast<std::size_t>(length));
    writer->position += length;
    return true;
  }
  return dozidicrashfu_writeBytesToFD(writer->fd, bytes, length);
}

bool dozidicrashfu_flushBufferedWriter(DozidiCrashBufferedWriter* writer) {
  if (writer->fd <= 0 || writer->position <= 0) return true;
  if (!dozidicrashfu_writeBytesToFD(writer->fd, writer->buffer, writer->position)) return false;
  writer->position = 0;
  return true;
}

bool dozidicrashfu_closeBufferedWriter(DozidiCrashBufferedWriter* writer) {
  if (writer->fd <= 0) return true;
  const bool flushed = dozidicrashfu_flushBufferedWriter(writer);
  ::close(writer->fd);
  writer->fd = -1;
  return flushed;
}

namespace {

bool fillBufferedReader(DozidiCrashBufferedReader* reader) {
  if (reader->dataStartPos > 0) {
    const int unread = reader->dataEndPos - reader->dataStartPos;
    std::memmove(reader->buffer, reader->buffer + reader->dataStartPos, static_cast<std::size_t>(unread));
    reader->dataEndPos = unread;
    reader->dataStartPos = 0;
    reader->buffer[reader->dataEndPos] = '\0';
  }
  const int room = reader->bufferLength - reader->dataEndPos;
  if (room <= 0) return true;
  ssize_t count;
  count = foundation::retryOnInterrupt(
      [&] { return ::read(reader->fd, reader->buffer + reader->dataEndPos, static_cast<std::size_t>(room)); });
  if (count < 0) {
    DOZIDICRASHLOG_ERROR("Could not read: %s", dozidicrashfmt_errorText(errno));
    return false;
  }
  reader->dataEndPos += static_cast<int>(count);
  reader->buffer[reader->dataEndPos] = '\0';
  return true;
}

}  // namespace

bool dozidicrashfu_openBufferedReader(DozidiCrashBufferedReader* reader, const char* path, char* buffer,
                                      int bufferLength) {
  buffer[0] = '\0';
  buffer[bufferLength - 1] = '\0';
  reader->buffer = buffer;
  reader->bufferLength = bufferLength - 1;
  reader->dataStartPos = 0;
  reader->dataEndPos = 0;
  reader->fd = openRetrying(path, O_RDONLY);
  if (reader->fd < 0) {
    DOZIDICRASHLOG_ERROR("Could not open file %s: %s", path, dozidicrashfmt_errorText(errno));
    return false;
  }
  return fillBufferedReader(reader);
}

bool dozidicrashfu_readBufferedReaderUntilChar(DozidiCrashBufferedReader* reader, int ch, char* dst, int* length) {
  int copied = 0;
  const int wanted = *length;
  bool found = false;
  while (copied < wanted && !found) {
    if (reader->dataStartPos >= reader->dataEndPos) {
      const int before = reader->dataEndPos - reader->dataStartPos;
      if (!fillBufferedReader(reader) || reader->dataEndPos - reader->dataStartPos == before) break;
    }
    while (copied < wanted && reader->dataStartPos < reader->dataEndPos) {
      const char c = reader->buffer[reader->dataStartPos++];
      dst[copied++] = c;
      if (static_cast<unsigned char>(c) == static_cast<unsigned>(ch)) {
        found = true;
        break;
      }
    }
  }
  *length = copied;
  return found;
}

void dozidicrashfu_closeBufferedReader(DozidiCrashBufferedReader* reader) {
  if (reader->fd <= 0) return;
  ::close(reader->fd);
  reader->fd = -1;
}
