#include "platform/foundation/SystemCalls.h"

#include <sys/random.h>
#include <unistd.h>

namespace foundation {

int writeFully(int fd, std::string_view bytes, WriteCall write) {
  if (write == nullptr) write = ::write;
  while (!bytes.empty()) {
    const ssize_t n = retryOnInterrupt([&] { return write(fd, bytes.data(), bytes.size()); });
    if (n < 0) return errno;
    // A zero-byte write of a non-empty buffer would loop for ever; report it as no space,
    // which is what a full disk turns into on the next call anyway.
    if (n == 0) return ENOSPC;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

int readFully(int fd, std::string& out, ReadCall read) {
  if (read == nullptr) read = ::read;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = retryOnInterrupt([&] { return read(fd, buffer, sizeof buffer); });
    if (n < 0) return errno;
    if (n == 0) return 0;
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

bool fillRandomBytes(void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t filled = 0;
  while (filled < size) {
    const ssize_t n = retryOnInterrupt([&] { return ::getrandom(bytes + filled, size - filled, 0); });
    if (n <= 0) return false;
    filled += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace foundation
