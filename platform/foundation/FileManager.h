#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/URL.h"

namespace foundation {

/// What kind of file system object an item is.
enum class FileType : std::uint8_t { Regular, Directory, SymbolicLink, Other };

/// The attributes of one item (the item itself; a symbolic link is not followed).
struct FileAttributes {
  FileType type = FileType::Other;
  std::uint64_t size = 0;
  /// The birth time where the file system records one, else the modification time.
  Date creationDate;
  Date modificationDate;
};

/// Whether createDirectory also creates missing parent folders.
enum class Intermediates : bool { No, Yes };

/// Whether an atomic write waits until its bytes are on the disk before it renames them into place.
/// Only for files that can be fetched again: a crash of the machine may then leave such a file
/// empty or short, never half old and half new.
enum class FlushToDisk : bool { No, Yes };

/// Files and folders on the real file system, and the folders the platform gives a deliverable
/// (its app-group containers, temporary and caches folders, all inside the device root).
///
/// Every method is safe from any thread. Failures are Errors in the Cocoa domain whose
/// description reads "cannot VERB PATH: reason" with the operating system's reason; the path is
/// under kFilePathErrorKey and the POSIX error under kUnderlyingErrorKey. Codes:
///   reading a missing file 260, reading without permission 257, other read failures 256;
///   an operation on a missing item (remove, move, replace source) 4;
///   writing without permission 513, no space 640, the target exists 516, other write failures 512.
class FileManager {
 public:
  static FileManager& defaultManager();

  /// True when something exists at `path` (a symbolic link is followed). `isDirectory`, when
  /// given, receives whether it is a folder.
  bool fileExists(const std::string& path, bool* isDirectory = nullptr) const;
  bool fileExists(const URL& url, bool* isDirectory = nullptr) const;

  /// Creates a folder. A folder that already exists is no error; a file in its place is (516).
  Result<void> createDirectory(const std::string& path, Intermediates withIntermediates) const;
  Result<void> createDirectory(const URL& url, Intermediates withIntermediates) const;

  /// Copies a file or a whole folder. Fails with 516 when `dst` exists, 260 when `src` is missing.
  Result<void> copyItem(const std::string& src, const std::string& dst) const;
  Result<void> copyItem(const URL& src, const URL& dst) const;

  /// Puts `withItem` in the place of `original` with one atomic rename, so a reader sees the old
  /// or the new file, never a mix. Also succeeds when `original` does not exist yet.
  /// `withItem` must be on the same file system (the temporary folder is).
  Result<void> replaceItem(const std::string& original, const std::string& withItem) const;
  Result<void> replaceItem(const URL& original, const URL& withItem) const;

  /// Moves an item. Fails with 516 when `dst` exists, 4 when `src` is missing. Works across
  /// file systems (copy, then remove).
  Result<void> moveItem(const std::string& src, const std::string& dst) const;
  Result<void> moveItem(const URL& src, const URL& dst) const;

  /// Removes a file, or a folder with everything in it. A missing item is an error (4).
  Result<void> removeItem(const std::string& path) const;
  Result<void> removeItem(const URL& url) const;

  /// The names in a folder (without "." and ".."), sorted by byte order.
  Result<std::vector<std::string>> contentsOfDirectory(const std::string& path) const;

  Result<FileAttributes> attributesOfItem(const std::string& path) const;

  /// The whole contents of a file.
  Result<Data> readFile(const std::string& path) const;
  Result<Data> readFile(const URL& url) const;

  /// Writes a file that others may read at any moment: the bytes go to a temporary file in the
  /// same folder, are flushed to disk, and the temporary file is renamed over `path`. On failure
  /// the temporary file is removed and `path` keeps its earlier contents. A new file gets mode
  /// 0644; a replaced one keeps its mode. FlushToDisk::No skips the flush, which costs
  /// milliseconds per file on a busy disk: for caches written by the thousand.
  Result<void> writeFileAtomically(const std::string& path, std::string_view bytes,
                                   FlushToDisk flush = FlushToDisk::Yes) const;
  Result<void> writeFileAtomically(const std::string& path, const Data& data) const;
  Result<void> writeFileAtomically(const URL& url, const Data& data, FlushToDisk flush = FlushToDisk::Yes) const;

  /// Removes from `folder` the temporary files of writeFileAtomically whose writer died before it
  /// renamed them into place (killed, or stopped by a resource limit). A write under way in any
  /// process keeps a lock on its temporary file and is left alone. Returns how many were removed;
  /// a folder that cannot be read gives 0.
  std::size_t removeAbandonedTemporaryFiles(const std::string& folder) const;

  /// The folder of an app group, "<device root>/containers/<group>/", created with
  /// "Library/Caches" and "Library/Preferences"; none when the main bundle's Info.json does not
  /// list the group under "com.apple.security.application-groups" (or the group id is not a
  /// plain folder name).
  std::optional<URL> containerURL(std::string_view forSecurityApplicationGroupIdentifier) const;
  /// The running deliverable's temporary folder, "<home>/tmp/" (created). It is on the same file
  /// system as the containers, so a file made there can be moved into place with replaceItem.
  URL temporaryDirectory() const;
  /// The running deliverable's caches folder, "<home>/Library/Caches/" (created).
  URL cachesDirectory() const;
};

/// The error FileManager gives for a write of `path` that failed with `errnum`, for code that
/// writes a file in pieces itself (a streamed atomic write) and must fail as FileManager does.
Error fileWriteError(const std::string& path, int errnum);

/// Creates the temporary file of an atomic write of `path` beside it, with the name pattern that
/// removeAbandonedTemporaryFiles knows, and takes an exclusive lock on it that lasts as long as the
/// descriptor is open, so that a sweep in another process leaves it alone (a file swept in the
/// moment before the lock was taken is replaced by another). Sets `temporary` to its name; returns
/// the descriptor, or -1 with errno set.
int createLockedTemporaryFile(const std::string& path, std::string& temporary);

}  // namespace foundation
