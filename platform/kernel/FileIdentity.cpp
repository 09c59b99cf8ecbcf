#include "platform/kernel/FileIdentity.h"

#include <sys/stat.h>

namespace kernel {

bool identifyFile(int fd, FileIdentity* identity) {
  struct stat info;
  if (::fstat(fd, &info) != 0) return false;
  *identity = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
  return true;
}

bool stillNames(int fd, const FileIdentity& identity) {
  FileIdentity now;
  return identifyFile(fd, &now) && now == identity;
}

}  // namespace kernel
