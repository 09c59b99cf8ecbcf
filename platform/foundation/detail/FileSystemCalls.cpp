#include "platform/foundation/detail/FileSystemCalls.h"

#include <unistd.h>

#include <cstdio>

namespace foundation::detail {

namespace {
FileSystemCalls realCalls() { return FileSystemCalls{::write, ::fsync, ::rename}; }
}  // namespace

FileSystemCalls& fileSystemCalls() {
  static FileSystemCalls calls = realCalls();
  return calls;
}

void resetFileSystemCalls() { fileSystemCalls() = realCalls(); }

}  // namespace foundation::detail
