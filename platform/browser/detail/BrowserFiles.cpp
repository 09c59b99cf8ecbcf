#include "platform/browser/detail/BrowserFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/browser/BrowserError.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"

namespace browser::detail {

FolderLock::FolderLock(const std::string& folder) {
  (void)foundation::FileManager::defaultManager().createDirectory(folder, foundation::Intermediates::Yes);
  fd_ = ::open((folder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) return;
  while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the flock
}

foundation::Result<foundation::Dictionary> readStateObject(const std::string& path) {
  auto& files = foundation::FileManager::defaultManager();
  if (!files.fileExists(path)) return foundation::Dictionary{};
  auto data = files.readFile(path);
  if (!data) return data.error();
  auto parsed = foundation::JSONSerialization::JSONObjectWithData(data->view());
  if (!parsed) {
    return makeBrowserError(BrowserErrorCode::DamagedStateFile,
                            "cannot read " + path + ": " + parsed.error().localizedDescription());
  }
  const foundation::Dictionary* object = parsed->dictionary();
  if (!object) {
    return makeBrowserError(BrowserErrorCode::DamagedStateFile, "cannot read " + path + ": not a JSON object");
  }
  return *object;
}

foundation::Result<void> writeStateObject(const std::string& path, const foundation::Dictionary& object) {
  auto text = foundation::JSONSerialization::dataWithJSONObject(
      object, foundation::JSONWritingOptions::PrettyPrinted | foundation::JSONWritingOptions::SortedKeys |
                  foundation::JSONWritingOptions::WithoutEscapingSlashes);
  if (!text) return text.error();
  return foundation::FileManager::defaultManager().writeFileAtomically(path, *text + "\n");
}

foundation::Result<void> appendLine(const std::string& path, const std::string& line) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return foundation::Error::posix(errno, "cannot open " + path);
  std::string text = line + "\n";
  std::size_t written = 0;
  while (written < text.size()) {
    ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int error = errno;
      ::close(fd);
      return foundation::Error::posix(error, "cannot append to " + path);
    }
    written += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return foundation::Result<void>::success();
}

}  // namespace browser::detail
