#include "platform/foundation/SystemCalls.h"

#include <sys/mman.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstdint>

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

void prefaultForWriting(void* address, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
  if (size == 0) return;
  static const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(address) & ~(page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(address) + size + page - 1) & ~(page - 1);
  // Every byte of the range is the caller's, so every page it touches is mapped. Kernels before
  // 5.14 answer EINVAL, and the pages then fault in as before.
  (void)retryOnInterrupt([&] { return ::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE); });
#else
  (void)address;
  (void)size;
#endif
}

}  // namespace foundation
