#include "platform/browser/ItemProvider.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/foundation/SystemCalls.h"

namespace browser {

namespace {

/// Reads the open file to its end, counting bytes; false on a read error. Interrupted reads are
/// retried, so that a signal does not make a readable file look unreadable.
bool countReadableBytes(int fd, std::uint64_t& total) {
  char buffer[64 * 1024];
  total = 0;
  for (;;) {
    ssize_t n = foundation::retryOnInterrupt([&] { return ::read(fd, buffer, sizeof buffer); });
    if (n == 0) return true;
    if (n < 0) return false;
    total += static_cast<std::uint64_t>(n);
  }
}

}  // namespace

std::shared_ptr<ItemProvider> ItemProvider::fromContentsOfURL(const foundation::URL& url) {
  if (!url.isFileURL()) return nullptr;
  std::string path = url.path();
  if (path.empty()) return nullptr;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  std::uint64_t size = 0;
  // The whole file is read, as the platform does, so that a file that opens but cannot be read
  // (a folder, a device, an I/O error) gives no provider rather than a broken attachment.
  bool readable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && countReadableBytes(fd, size);
  ::close(fd);
  if (!readable) return nullptr;
  return std::make_shared<ItemProvider>(std::move(path), size);
}

}  // namespace browser
