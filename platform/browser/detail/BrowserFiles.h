#pragma once
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

namespace browser::detail {

/// Holds the browser folder's lock file ("<folder>/.lock", flock) for its lifetime, so that
/// read-modify-writes of the state files by several threads or processes do not lose updates.
/// A lock that cannot be taken (unwritable folder) is no error here: the write that follows
/// reports the real problem.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_ = -1;
};

/// The JSON object stored at `path`; an empty object when the file does not exist; a
/// DamagedStateFile error when it is not a JSON object, so a damaged file is never overwritten.
foundation::Result<foundation::Dictionary> readStateObject(const std::string& path);
/// Writes `object` to `path` through the atomic-write helper (pretty-printed, sorted keys).
foundation::Result<void> writeStateObject(const std::string& path, const foundation::Dictionary& object);
/// Appends one line (a newline is added) to the log at `path`, creating it when missing.
foundation::Result<void> appendLine(const std::string& path, const std::string& line);

/// Where a program the browser runs (extension host, compiler) is: $`environmentVariable` when set,
/// else `programName` next to the running executable (every program of the build lands in one
/// folder), else `builtPath` when given (tests run from elsewhere), else the path next to us.
std::string helperProgramPath(const char* environmentVariable, const char* programName, const char* builtPath);

/// This process's environment for a helper program, with `overrides` (name, value) in place of the
/// variables of those names.
std::vector<std::string> environmentWith(const std::vector<std::pair<std::string, std::string>>& overrides);
/// The null-terminated array of C strings that posix_spawn takes; it points into `strings`.
std::vector<char*> spawnPointers(std::vector<std::string>& strings);
/// The LoadingInterrupted error a helper program that failed, hung or gave no answer reports.
foundation::Error loadingInterrupted(std::string reason);

}  // namespace browser::detail
