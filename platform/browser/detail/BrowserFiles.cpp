#include "platform/browser/detail/BrowserFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/browser/BrowserError.h"
#include "platform/foundation/SystemCalls.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"

extern char** environ;

namespace browser::detail {

FolderLock::FolderLock(const std::string& folder) {
  (void)foundation::FileManager::defaultManager().createDirectory(folder, foundation::Intermediates::Yes);
  fd_ = ::open((folder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) return;
  foundation::retryOnInterrupt([&] { return ::flock(fd_, LOCK_EX); });
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
  if (const int error = foundation::writeFully(fd, line + "\n")) {
    ::close(fd);
    return foundation::Error::posix(error, "cannot append to " + path);
  }
  ::close(fd);
  return foundation::Result<void>::success();
}

std::string helperProgramPath(const char* environmentVariable, const char* programName, const char* builtPath) {
  if (const char* configured = std::getenv(environmentVariable); configured && *configured) return configured;
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  std::string self = n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
  std::string beside = self.substr(0, self.rfind('/') == std::string::npos ? 0 : self.rfind('/')) + "/" + programName;
  if (::access(beside.c_str(), X_OK) == 0 || !builtPath) return beside;
  return builtPath;
}

std::vector<std::string> environmentWith(const std::vector<std::pair<std::string, std::string>>& overrides) {
  auto overridden = [&](std::string_view text) {
    return std::any_of(overrides.begin(), overrides.end(), [&](const auto& entry) {
      return text.starts_with(entry.first) && text.substr(entry.first.size()).starts_with('=');
    });
  };
  std::vector<std::string> env;
  for (char** entry = environ; entry && *entry; ++entry) {
    if (!overridden(*entry)) env.emplace_back(*entry);
  }
  for (const auto& [name, value] : overrides) env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> spawnPointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

foundation::Error loadingInterrupted(std::string reason) {
  return makeSFError(SFErrorCode::LoadingInterrupted, "loading interrupted: " + std::move(reason));
}

}  // namespace browser::detail
