#include "platform/foundation/DataFile.h"

#include <fcntl.h>

#include <cerrno>

#include "platform/foundation/Error.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/SystemCalls.h"
#include "platform/foundation/URL.h"

namespace foundation {

namespace {

void store(Error* out, Error error) {
  if (out) *out = std::move(error);
}

/// Writes in place: the file is created with mode 0644 (or exclusively, when it must not exist)
/// and truncated.
bool writeInPlace(const Data& data, const std::string& path, bool exclusive, Error* error) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
  FileDescriptor fd(retryOnInterrupt([&] { return ::open(path.c_str(), flags, 0644); }));
  if (!fd) {
    store(error, fileWriteError(path, errno));
    return false;
  }
  int err = writeFully(fd.get(), data.view());
  const int closeErr = fd.close();
  if (!err) err = closeErr;
  if (err) {
    store(error, fileWriteError(path, err));
    return false;
  }
  return true;
}

}  // namespace

std::optional<Data> readDataFromFile(const std::string& path, std::uint32_t, Error* error) {
  auto data = FileManager::defaultManager().readFile(path);
  if (!data) {
    store(error, data.error());
    return std::nullopt;
  }
  return std::move(*data);
}

std::optional<Data> readDataFromURL(const URL& url, std::uint32_t readingOptions, Error* error) {
  if (!url.isFileURL()) {
    store(error, Error::cocoa(CocoaError::FileReadUnknown,
                              "cannot read " + url.absoluteString() + ": not a file URL"));
    return std::nullopt;
  }
  return readDataFromFile(url.path(), readingOptions, error);
}

bool writeDataToFile(const Data& data, const std::string& path, std::uint32_t writingOptions, Error* error) {
  const bool exclusive = (writingOptions & DataWritingWithoutOverwriting) != 0;
  if (exclusive || !(writingOptions & DataWritingAtomic)) return writeInPlace(data, path, exclusive, error);
  auto written = FileManager::defaultManager().writeFileAtomically(path, data);
  if (!written) {
    store(error, written.error());
    return false;
  }
  return true;
}

}  // namespace foundation
