#pragma once
// Which file a descriptor refers to. A program may close descriptors it did not open, and the
// number may then name another file: a caller that keeps a descriptor checks with the identity
// it took at opening that the number still names that file before it reads or closes it.
// Both calls are one fstat: no allocation, no locks, safe in a signal handler.

#include <cstdint>

namespace kernel {

struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;

  bool operator==(const FileIdentity&) const = default;
};

/// Reads the identity of the file behind `fd`. False when it cannot be read.
bool identifyFile(int fd, FileIdentity* identity);

/// True when `fd` still refers to the file `identity` was taken from.
bool stillNames(int fd, const FileIdentity& identity);

}  // namespace kernel
