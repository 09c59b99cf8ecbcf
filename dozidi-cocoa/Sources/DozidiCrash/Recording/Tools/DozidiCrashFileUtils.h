#pragma once
#include <cstdint>
#include <optional>
#include <string>

/// File services of the crash recorder. The descriptor loops, the buffered writer and reader and
/// `lastPathEntry` work in caller or stack buffers and may run during a crash; whole-file reads,
/// directory creation and deletion allocate and belong to install and next-launch time.
/// Failures are logged through the recorder's log line and reported by the return value.

/// Runs during a crash: no allocation, no locks.
/// The part of `path` after its last "/", or the whole path; null for null.
const char* dozidicrashfu_lastPathEntry(const char* path);

/// Runs during a crash: no allocation, no locks.
/// Writes all `length` bytes, retrying short and interrupted writes. A length below 1 succeeds.
bool dozidicrashfu_writeBytesToFD(int fd, const char* bytes, int length);

/// Runs during a crash: no allocation, no locks.
/// Reads exactly `length` bytes. Meeting the end of the file first is a failure, as is a read error.
bool dozidicrashfu_readBytesFromFD(int fd, char* buffer, int length);

/// Reads a file whole; with a non-zero `maxLength` a larger file gives only its last `maxLength`
/// bytes. None on any failure (logged).
std::optional<std::string> dozidicrashfu_readEntireFile(const char* path, std::int64_t maxLength);

/// Creates every missing directory of `path` (mode 0700). An existing entry is fine.
/// Runs during a crash: no allocation, no locks.
bool dozidicrashfu_makePath(const char* path);

/// Runs during a crash: no allocation, no locks.
/// Removes a file or an empty directory. A missing entry is logged only when `mustExist`.
bool dozidicrashfu_removeFile(const char* path, bool mustExist);

/// Deletes everything inside a directory (or the file itself), keeping the directory. Refuses a
/// path whose last component is "." or "..".
bool dozidicrashfu_deleteContentsOfPath(const char* path);

/// Deletes a file or a whole directory tree. A missing path is not an error.
bool dozidicrashfu_deletePath(const char* path);

/// A writer that collects small writes in a caller-owned buffer and hands them to a descriptor in
/// large pieces. Bytes are never lost or reordered: when a flush fails nothing more is taken in.
struct DozidiCrashBufferedWriter {
  char* buffer;
  int bufferLength;
  int position;
  int fd;  ///< 0 or less counts as closed
};

/// Runs during a crash: no allocation, no locks.
/// Opens `path` for writing; the file must not exist yet (mode 0644).
bool dozidicrashfu_openBufferedWriter(DozidiCrashBufferedWriter* writer, const char* path, char* buffer,
                                      int bufferLength);
/// Normal time: opens a file without a name in `folder`, which a crash names when it needs a new
/// file there: naming a file costs less than creating one, and an unnamed file goes away with
/// the process. -1 when the file system has no unnamed files.
int dozidicrashfu_openUnnamedFile(const char* folder);

/// Runs during a crash: no allocation, no locks.
/// Gives the unnamed file `fd` (from `dozidicrashfu_openUnnamedFile`) the name `path`, which must
/// not exist yet, and opens the writer on it. False when it cannot be named; `fd` is closed then.
bool dozidicrashfu_openBufferedWriterOnUnnamedFile(DozidiCrashBufferedWriter* writer, int fd, const char* path,
                                                   char* buffer, int bufferLength);
/// Runs during a crash: no allocation, no locks.
bool dozidicrashfu_writeBufferedWriter(DozidiCrashBufferedWriter* writer, const char* bytes, int length);
/// Runs during a crash: no allocation, no locks.
bool dozidicrashfu_flushBufferedWriter(DozidiCrashBufferedWriter* writer);
/// Runs during a crash: no allocation, no locks.
/// Flushes and closes an open writer; the result says whether every byte reached the file.
bool dozidicrashfu_closeBufferedWriter(DozidiCrashBufferedWriter* writer);

/// A reader over a caller-owned buffer whose last byte always holds a NUL; the bytes between
/// `dataStartPos` and `dataEndPos` are unread and `buffer[dataEndPos]` is NUL.
struct DozidiCrashBufferedReader {
  char* buffer;
  int bufferLength;  ///< usable length: the given length - 1
  int dataStartPos;
  int dataEndPos;
  int fd;
};

/// Runs during a crash: no allocation, no locks.
bool dozidicrashfu_openBufferedReader(DozidiCrashBufferedReader* reader, const char* path, char* buffer,
                                      int bufferLength);
/// Runs during a crash: no allocation, no locks.
/// Copies up to `*length` bytes into `dst`, stopping after the first `ch` (copied too). `*length`
/// receives the number copied; the result says whether `ch` was found.
bool dozidicrashfu_readBufferedReaderUntilChar(DozidiCrashBufferedReader* reader, int ch, char* dst, int* length);
/// Runs during a crash: no allocation, no locks.
void dozidicrashfu_closeBufferedReader(DozidiCrashBufferedReader* reader);
