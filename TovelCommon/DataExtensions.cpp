#include "TovelCommon/DataExtensions.h"

#include "platform/foundation/Error.h"
#include "platform/foundation/DataFile.h"
#include "platform/foundation/FileManager.h"
#include "platform/runtime/NSData.h"

namespace tovel {

std::optional<foundation::Data> xored(const foundation::Data& data, std::string_view key) {
  if (key.empty()) return std::nullopt;
  std::string bytes = data.bytes();
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(bytes[i] ^ key[i % key.size()]);
  return foundation::Data(std::move(bytes));
}

foundation::Result<void> writeToFile(const foundation::Data& data, const foundation::URL& url) {
  if (!url.isFileURL()) return foundation::Error(kDataNotFileUrlDomain, 0);
  const std::string path = url.path();
  auto& files = foundation::FileManager::defaultManager();
  const auto slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    auto created = files.createDirectory(path.substr(0, slash), foundation::Intermediates::Yes);
    if (!created) return created.error();
  }
  // Through the data object, so that the write can be observed (traced) like the platform's.
  foundation::Error error("", 0);
  if (!runtime::NSData::writeData(data, path, foundation::DataWritingAtomic, &error)) return error;
  return {};
}

foundation::Result<void> writeToFilePath(const foundation::Data& data, std::string_view path) {
  return writeToFile(data, foundation::URL::fileURL(path));
}

}  // namespace tovel
