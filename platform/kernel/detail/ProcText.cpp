#include "platform/kernel/detail/ProcText.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/foundation/RetryOnInterrupt.h"

namespace kernel::detail {

long readSmallFile(const char* path, char* buffer, std::size_t capacity) {
  if (capacity == 0) return -1;
  const int fd = foundation::retryOnInterrupt([&] { return ::open(path, O_RDONLY | O_CLOEXEC); });
  if (fd < 0) return -1;
  std::size_t total = 0;
  while (total + 1 < capacity) {
    const ssize_t n = foundation::retryOnInterrupt([&] { return ::read(fd, buffer + total, capacity - 1 - total); });
    if (n < 0) {
      ::close(fd);
      return -1;
    }
    if (n == 0) break;
    total += static_cast<std::size_t>(n);
  }
  ::close(fd);
  buffer[total] = '\0';
  return static_cast<long>(total);
}

int formatDecimal(std::uint64_t value, char* out) {
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = 0; i < count; ++i) out[i] = digits[count - 1 - i];
  return count;
}

bool findNumberAfterKey(const char* text, const char* key, std::uint64_t* value) {
  std::size_t keyLength = std::strlen(key);
  const char* line = text;
  while (line != nullptr && *line != '\0') {
    if (std::strncmp(line, key, keyLength) == 0) {
      const char* p = line + keyLength;
      while (*p == ' ' || *p == '\t') ++p;
      if (*p < '0' || *p > '9') return false;
      std::uint64_t result = 0;
      while (*p >= '0' && *p <= '9') result = result * 10 + static_cast<std::uint64_t>(*p++ - '0');
      *value = result;
      return true;
    }
    line = std::strchr(line, '\n');
    if (line != nullptr) ++line;
  }
  return false;
}

}  // namespace kernel::detail
